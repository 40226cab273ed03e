#pragma once
// The options file "dpx20remote.ini" and the six memory files that share its format.
#include <filesystem>
#include <string>

#include "model/SettingsRecord.h"

namespace dpx {

// The whole text the writer produces for `record`.
std::string OptionFileText(const SettingsRecord& record);

// "dpx20remote.ini".
extern const char* const options_file_name;

// Writes `record` to `file_name`. Replaces the old file only when the new one is complete on
// disk; a failure shows its message and calls FatalExit(1). An empty name shows a message and
// writes nothing.
void WriteOptionFile(const std::filesystem::path& file_name, const SettingsRecord& record);

// A record and the options file that keeps it, as a panel holds them: the reader's failure
// paths rewrite the options file from the record, and the link options of a file are not
// taken while the panel is connected.
struct OptionsFile {
    SettingsRecord record;
    std::filesystem::path path;  // the full path it was first read from; empty until then
    bool connected = false;
    // WriteOptionFile of the record to `path`, or to options_file_name in the current folder
    // while that is empty.
    void Save() const;
    // ReadOptionFile with this file's rewrites, into the record or into `into`.
    int Read(const std::string& file_name);
    int Read(const std::string& file_name, SettingsRecord& into);
};

// Reads `file_name` into `into`; 1 on success, 0 on failure (the fields read before the
// failure keep their new values). Shows one message per problem. Without `kept`, nothing is
// rewritten and "dpx20remote.ini" is read like any other file (tools and services); with it,
// its failure paths call kept->Save().
int ReadOptionFile(const std::string& file_name, SettingsRecord& into, OptionsFile* kept = nullptr);

// "dpx20remote%02d.sav" of memory slot n.
std::string MemoryFileName(int n);

}  // namespace dpx
