#pragma once
// The system-specific half of the settings files' whole-file helpers; the build compiles
// SettingsFile_posix.cpp or SettingsFile_win.cpp.
#include <filesystem>
#include <string>
#include <string_view>

#include "settings/SettingsFile.h"

namespace dpx::settings_file {

// Replaces `target`, which is a regular file or does not exist, with `text` by way of the
// temporary file `temp`, or in place when `temp` cannot be made (see ReplaceFile).
WriteStatus ReplaceRegularFile(const std::filesystem::path& target,
                               const std::filesystem::path& temp, std::string_view text,
                               std::string* holder);

}  // namespace dpx::settings_file
