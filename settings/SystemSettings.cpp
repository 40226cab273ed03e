#include "settings/SystemSettings.h"

namespace dpx {

SettingsRecord SystemSettings;
int32_t panel_connected = 0;
const char* const options_file_name = "dpx20remote.ini";
std::filesystem::path options_file_path;

}  // namespace dpx
