#pragma once
// The one file a support engineer asks for: the program version, the date, the COM port
// map, the options file's current text and the link's frame trace.
#include <string>

namespace dpx {

class RS232c_bios;

std::string DiagnosticTraceText(RS232c_bios& link);
// Writes DiagnosticTraceText to `path` (UTF-8); false with the system's reason in `why` otherwise.
bool WriteDiagnosticTrace(const std::string& path, RS232c_bios& link, std::string* why);

}  // namespace dpx
