#pragma once
// The one file a support engineer asks for: the program version, the date, the COM port
// map, the options file's current text and the link's frame trace.
#include <filesystem>
#include <string>

namespace dpx {

class RS232c_bios;

// The text for `link` and the options file at `options`.
std::string DiagnosticTraceText(RS232c_bios& link, const std::filesystem::path& options);
// Writes DiagnosticTraceText to `path` (UTF-8); false with the system's reason in `why` otherwise.
bool WriteDiagnosticTrace(const std::string& path, RS232c_bios& link, const std::filesystem::path& options,
                          std::string* why);

}  // namespace dpx
