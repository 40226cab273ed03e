// Settings files under faults, counted: writers killed (SIGKILL) at random moments in an
// ordinary and in a read-only folder, a reader while another program saves in place, and
// saves while another writer is stopped (SIGSTOP) at a random moment or holds the file.
// Prints figures only. Usage: settings_bench [kills] (default 1000). Works in a folder of its
// own under $TMPDIR (default /tmp); as root, the writers in the read-only folder run as user
// "nobody", for whom the folder's permissions hold.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "settings/OptionFile.h"
#include "settings/SettingsFile.h"
#include "tests/support/PosixFaults.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using dpx::settings_file::ReplaceFile;
using dpx::settings_file::WriteStatus;
using dpx::test::Child;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Bench {
    fs::path dir;
    fs::path file;
    std::string texts[2];  // the second one byte longer, so that cuts show
    std::mt19937 random{20};

    // What a reader finds: one of the two texts, the shorter one not yet cut (the rest of the
    // longer after it), an empty file, or anything else.
    std::string Kind(const std::string& now) const {
        if (now == texts[0]) return "old";
        if (now == texts[1]) return "new";
        if (now.empty()) return "EMPTY";
        if (now == texts[0] + texts[1].substr(texts[0].size())) return "uncut";
        return "MIXED";
    }

    void ReadOnly(bool on) {
        fs::permissions(dir, on ? fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec
                                : fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
    }

    // A writer saving the two texts in turn until it is killed.
    Child Writer(bool read_only) {
        return Child([this, read_only] {
            if (read_only && !dpx::test::BecomeNobody()) return 1;
            for (unsigned i = 0;; ++i) ReplaceFile(file, texts[i % 2]);
        });
    }

    // One save, timed; in a read-only folder by a child as the writers are.
    std::pair<WriteStatus, Clock::duration> TimedSave(bool read_only) {
        const auto start = Clock::now();
        WriteStatus status;
        if (read_only) {
            Child saver([this] {
                if (!dpx::test::BecomeNobody()) return 9;
                return static_cast<int>(ReplaceFile(file, texts[0]));
            });
            status = static_cast<WriteStatus>(saver.Wait());
        } else {
            status = ReplaceFile(file, texts[0]);
        }
        return {status, Clock::now() - start};
    }

    void Kills(bool read_only, int kills) {
        const auto span = std::max<long long>(3 * Ms(TimedSave(false).second) * 1000, 2000);
        dpx::test::GiveToNobody(file);
        ReadOnly(read_only);
        std::map<std::string, int> found;
        int left = 0;  // the most names besides the file after one kill
        for (int i = 0; i < kills; ++i) {
            Child writer = Writer(read_only);
            std::this_thread::sleep_for(std::chrono::microseconds(random() % span));
            writer.Kill();
            ++found[Kind(Slurp(file))];
            int others = 0;
            for (const auto& e : fs::directory_iterator(dir)) others += e.path() != file;
            left = std::max(left, others);
        }
        ReadOnly(false);
        std::printf("kill -9 x %d, %s folder (kills within %.1f ms of the start):", kills,
                    read_only ? "read-only" : "ordinary", span / 1000.0);
        for (const auto& [kind, n] : found) std::printf(" %s %d", kind.c_str(), n);
        std::printf("; most other names left: %d\n", left);
        fs::remove(file.string() + ".tmp");
    }

    void Reader(int reads) {
        ReplaceFile(file, texts[0]);
        dpx::test::GiveToNobody(file);
        ReadOnly(true);
        std::map<std::string, int> found;
        {
            Child writer = Writer(true);
            for (int i = 0; i < reads; ++i) ++found[Kind(Slurp(file))];
        }
        ReadOnly(false);
        std::printf("%d reads while another program saves in place:", reads);
        for (const auto& [kind, n] : found) std::printf(" %s %d", kind.c_str(), n);
        std::printf("\n");
    }

    void Stopped(bool read_only, int trials) {
        ReplaceFile(file, texts[0]);
        dpx::test::GiveToNobody(file);
        ReadOnly(read_only);
        std::map<WriteStatus, int> outcome;
        double longest = 0;
        int over = 0;
        for (int i = 0; i < trials; ++i) {
            Child writer = Writer(read_only);
            std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 20000));
            ::kill(writer.Id(), SIGSTOP);
            const auto [status, took] = TimedSave(read_only);
            ++outcome[status];
            longest = std::max(longest, Ms(took));
            over += took > std::chrono::milliseconds(2500);
        }
        ReadOnly(false);
        std::printf("writer stopped at random x %d, %s folder: longest save %.0f ms, over 2.5 s: %d,"
                    " saved %d, busy %d\n",
                    trials, read_only ? "read-only" : "ordinary", longest, over, outcome[WriteStatus::kOk],
                    outcome[WriteStatus::kBusy]);
        fs::remove(file.string() + ".tmp");
    }

    void Held(bool read_only) {
        ReplaceFile(file, texts[0]);
        dpx::test::GiveToNobody(file);
        const std::string before = Slurp(file);
        Child holder([this, read_only] {
            return dpx::test::LockAndStop(read_only ? file : fs::path(file.string() + ".tmp")) ? 0 : 1;
        });
        holder.AwaitStop();
        ReadOnly(read_only);
        std::swap(texts[0], texts[1]);
        const auto [status, took] = TimedSave(read_only);
        std::swap(texts[0], texts[1]);
        ReadOnly(false);
        std::printf("lock held by a stopped program, %s folder: save %s after %.0f ms, old file %s\n",
                    read_only ? "read-only" : "ordinary", status == WriteStatus::kBusy ? "busy" : "NOT BUSY",
                    Ms(took), Slurp(file) == before ? "unchanged" : "CHANGED");
        fs::remove(file.string() + ".tmp");
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int kills = argc > 1 ? std::atoi(argv[1]) : 1000;
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/dpx20-settings-bench-XXXXXX";
    if (!::mkdtemp(dir.data())) {
        std::perror("settings_bench");
        return 1;
    }
    Bench bench;
    bench.dir = dir;
    bench.file = bench.dir / "dpx20remote.ini";
    dpx::SettingsRecord longer;
    longer.sys_3dfmt = 12;  // two digits: one byte longer
    bench.texts[0] = dpx::OptionFileText(dpx::SettingsRecord{});
    bench.texts[1] = dpx::OptionFileText(longer);
    std::printf("folder %s\n", dir.c_str());
    for (const bool read_only : {false, true}) bench.Kills(read_only, kills);
    bench.Reader(20 * kills);
    for (const bool read_only : {false, true}) bench.Stopped(read_only, 20);
    for (const bool read_only : {false, true}) bench.Held(read_only);
    fs::remove_all(bench.dir);
    return 0;
}
