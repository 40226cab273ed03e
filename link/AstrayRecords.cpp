#include "link/AstrayRecords.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dpx {
namespace {

// Whether `folder` is a folder of this user's that no one else may write into: a folder made
// by someone else in a shared temporary folder is not written through.
bool OwnFolder(const std::filesystem::path& folder) {
#ifdef _WIN32
    (void)folder;
    return true;
#else
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
#endif
}

}  // namespace

std::filesystem::path AstrayRecords::File(const std::string& device) const {
    // The device name as a file name: "/dev/ttyUSB0" -> "_dev_ttyUSB0.replies".
    std::string name;
    for (char c : device) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
        name += plain ? c : '_';
    }
    return folder_ / (name + ".replies");
}

std::optional<AstrayNote> AstrayRecords::Read(const std::string& device) const {
    std::ifstream in(File(device));
    AstrayNote note;
    if (!(in >> note.replies >> note.until)) return std::nullopt;
    return note;
}

void AstrayRecords::Write(const std::string& device, const AstrayNote& note) const {
    std::error_code ec;
    const std::filesystem::path file = File(device);
    if (note.replies == 0) {
        std::filesystem::remove(file, ec);
        return;
    }
    if (std::filesystem::create_directories(folder_, ec))
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_all, ec);
    if (!OwnFolder(folder_)) return;
    // Records of other devices that are long over go (those of devices not opened since).
    for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
        std::error_code stale;
        if (entry.path().extension() == ".replies" && entry.path() != file &&
            std::filesystem::file_time_type::clock::now() - entry.last_write_time(stale) > std::chrono::minutes(1) && !stale)
            std::filesystem::remove(entry.path(), stale);
    }
    // Written beside and renamed over, so a reader never sees half a record.
    const std::filesystem::path tmp = file.string() + ".new";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << note.replies << ' ' << note.until << '\n';
        if (!out) return;
    }
    std::filesystem::rename(tmp, file, ec);
}

std::filesystem::path AstrayRecords::DefaultFolder() {
    std::error_code ec;
#ifdef _WIN32
    return std::filesystem::temp_directory_path(ec) / "dpx20remote";
#else
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::filesystem::path(runtime) / "dpx20remote";
    return std::filesystem::temp_directory_path(ec) / ("dpx20remote-" + std::to_string(::getuid()));
#endif
}

}  // namespace dpx
