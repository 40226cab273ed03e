#pragma once
// A fresh temporary directory per test, made the current directory for the test's length,
// with a panel's record and options file, and messages and fatal exits recorded.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>

#include "settings/OptionFile.h"
#include "tests/support/Recorders.h"
#include "tests/support/TestSeam.h"

namespace dpx::test {

class SettingsDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        old_cwd_ = std::filesystem::current_path();
        dir_ = MakeTempDir("dpx20-settings-", base_);
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        std::filesystem::current_path(old_cwd_);
        std::filesystem::remove_all(dir_);
    }
    // A new directory under `base`, by default the system's temporary folder (portable mkdtemp).
    static std::filesystem::path MakeTempDir(const std::string& prefix, std::filesystem::path base = {}) {
        if (base.empty()) base = std::filesystem::temp_directory_path();
        std::random_device random;
        for (;;) {
            const auto dir = base / (prefix + std::to_string(random() % 1000000000u));
            if (std::filesystem::create_directory(dir)) return std::filesystem::canonical(dir);
        }
    }

    static std::string Slurp(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void Spit(const std::filesystem::path& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    // Names in the test directory, to show that nothing else was created or left behind.
    std::set<std::string> Entries(const std::filesystem::path& dir = {}) const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.empty() ? dir_ : dir)) {
            const std::u8string name = e.path().filename().u8string();
            names.emplace(name.begin(), name.end());
        }
        return names;
    }

    std::filesystem::path base_;  // where SetUp makes dir_; empty: the system's temporary folder
    std::filesystem::path dir_;
    MessageRecorder messages;
    FatalExitRecorder fatal;
    OptionsFile options;  // a panel's record and options file

private:
    std::filesystem::path old_cwd_;
    TestSeam seam_;
};

}  // namespace dpx::test
