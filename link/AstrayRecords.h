#pragma once
// What a program leaves for the next one that opens the same device: how many replies of the
// box it gave up that may still come, and until when. Replies name no command, so a reply
// owed to a program that has ended would be read by the next one as the answer to its own
// login or first command. The next program's link reads the record when it opens the port
// and, before its login, waits for those replies (or for the time by which they would have
// come) instead of taking one of them for its own.
//
// One small text file per device in a folder of the user's ("replies until"), written only
// when a transaction ends with replies given up or owed and removed when none are; a program
// that never misses a reply never writes one. Times are ticks of the system's millisecond
// counter since boot, which every program on the machine reads alike.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace dpx {

struct AstrayNote {
    uint32_t replies = 0;  // replies that may still come
    uint32_t until = 0;    // the tick after which none is expected any more
};

class AstrayRecords {
public:
    explicit AstrayRecords(std::filesystem::path folder) : folder_(std::move(folder)) {}

    // The record of `device`, if there is one that parses.
    std::optional<AstrayNote> Read(const std::string& device) const;
    // Replaces the record of `device`; a note of no replies removes it. Failures are ignored:
    // without a record the next program only loses the wait.
    void Write(const std::string& device, const AstrayNote& note) const;

    // $XDG_RUNTIME_DIR/dpx20remote, or dpx20remote-<uid> in the temporary folder (on Windows
    // dpx20remote in the user's temporary folder).
    static std::filesystem::path DefaultFolder();

private:
    std::filesystem::path File(const std::string& device) const;

    std::filesystem::path folder_;
};

}  // namespace dpx
