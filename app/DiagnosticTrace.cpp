#include "app/DiagnosticTrace.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <cstring>

#include "common/Format.h"
#include "link/RS232c_bios.h"
#include "platform/ComPorts.h"
#include "settings/SettingsFile.h"
#include "settings/SystemSettings.h"

namespace dpx {
namespace {

// The file's bytes as they are on disk now, or why they cannot be had.
std::string FileText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return Format("(cannot be read: %s)\n", std::strerror(errno));
    return std::string(std::istreambuf_iterator<char>(file), {});
}

}  // namespace

std::string DiagnosticTraceText(RS232c_bios& link) {
    std::string text = "dpx20remote diagnostic trace\n";
    text += "Version: " DPX20_VERSION "\n";
    text += "Date: " + FrameTrace::IsoTime(FrameTrace::WallMs()) + "\n";
    const LinkState& state = link.State();
    text += Format("Link: COM%d, connected %d, category %d, no-ack %d, virtual %d\n", static_cast<int>(state.link_port),
                   static_cast<int>(state.link_connected), static_cast<int>(state.link_category),
                   static_cast<int>(state.link_no_ack), static_cast<int>(state.link_virtual));
    if (!state.link_failure.empty()) text += "Last failure: " + state.link_failure + "\n";
    text += "\nCOM port map:\n";
    for (int n = 1; n <= 8; ++n) text += Format("COM%d  ", n) + platform::DescribeComPort(n) + "\n";
    const std::filesystem::path options =
        options_file_path.empty() ? std::filesystem::path(options_file_name) : options_file_path;
    text += "\nOptions file " + settings_file::ShownName(options) + ":\n" + FileText(options);
    const FrameTrace& trace = link.Trace();
    text += Format("\nFrame trace (the last %zu entries):\n", trace.Entries().size()) + trace.Text();
    return text;
}

bool WriteDiagnosticTrace(const std::string& path, RS232c_bios& link, std::string* why) {
    const std::string text = DiagnosticTraceText(link);
#ifdef _WIN32
    // The path is UTF-8; the wide call reaches folders named outside the ANSI code page.
    const std::filesystem::path wide(std::u8string(reinterpret_cast<const char8_t*>(path.data()), path.size()));
    std::FILE* file = _wfopen(wide.c_str(), L"wb");
#else
    std::FILE* file = std::fopen(path.c_str(), "wb");
#endif
    if (!file) {
        if (why) *why = path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int write_error = errno;
    const bool closed = std::fclose(file) == 0;  // a full disk may show only here
    if (written && closed) return true;
    if (why) *why = path + ": " + std::strerror(written ? errno : write_error);
    return false;
}

}  // namespace dpx
