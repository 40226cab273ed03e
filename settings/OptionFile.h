#pragma once
// The options file "dpx20remote.ini" and the six memory files that share its format.
#include <filesystem>
#include <string>

#include "settings/SystemSettings.h"

namespace dpx {

// The whole text the writer produces for `record`.
std::string OptionFileText(const SettingsRecord& record);

// Writes `record` (the process-wide record by default) to `file_name`. Replaces the old file
// only when the new one is complete on disk; a failure shows its message and calls
// FatalExit(1). An empty name shows a message and writes nothing.
void WriteOptionFile(const std::filesystem::path& file_name,
                     const SettingsRecord& record = SystemSettings);
// Whether the reader's failure paths rewrite the options file. Tools other than the panel
// pass kNever: they write no settings file and treat "dpx20remote.ini" like any other file.
enum class Rewrite { kOnFailure, kNever };
// Reads `file_name` into `into`; 1 on success, 0 on failure (the fields read before the
// failure keep their new values). Shows one message per problem; with kOnFailure its failure
// paths call SaveOptionFile(), which always writes the process-wide record.
int ReadOptionFile(const std::string& file_name, SettingsRecord& into = SystemSettings,
                   Rewrite rewrite = Rewrite::kOnFailure);
// WriteOptionFile of the process-wide record to options_file_path, or to options_file_name
// in the current directory while that path is empty.
void SaveOptionFile();

// "dpx20remote%02d.sav" of memory slot n.
std::string MemoryFileName(int n);

}  // namespace dpx
