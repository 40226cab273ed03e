#pragma once
// The process-wide settings record and the names the options file is kept under.
#include <cstdint>
#include <filesystem>
#include <string>

#include "model/SettingsRecord.h"

namespace dpx {

// The process-wide record.
extern SettingsRecord SystemSettings;

// The panel's CONNECT state (1 while the operator holds the panel connected). Owned by the
// panel; kept here so that the options-file reader can consult it without depending on it.
extern int32_t panel_connected;

// "dpx20remote.ini", and the full path it was first read from (empty until then).
extern const char* const options_file_name;
extern std::filesystem::path options_file_path;

}  // namespace dpx
