#include "app/DiagnosticTrace.h"

#include <QString>
#include <QSysInfo>
#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#ifndef _WIN32
#include <grp.h>
#include <unistd.h>
#endif

#include "common/Format.h"
#include "model/CommandTable.h"
#include "link/RS232c_bios.h"
#include "platform/ComPorts.h"
#include "settings/SettingsFile.h"

namespace dpx {
namespace {

// The file's bytes as they are on disk now, or why they cannot be had.
std::string FileText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return Format("(cannot be read: %s)\n", std::strerror(errno));
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// The menu category the link believes the box is in, in words.
const char* CategoryWords(int category) {
    switch (category) {
        case kCategoryNone: return "none (just logged in or off)";
        case kCategoryInput: return "input";
        case kCategoryOutput: return "output";
        case kCategoryMainMenu: return "main menu";
        case kCategoryScope: return "scope";
        case kCategoryAdjust: return "adjust";
        case kCategory2D3D: return "2D-3D";
        default: return "unknown";
    }
}

const char* OnOff(int32_t flag) { return flag ? "on" : "off"; }

// "Link: COM1 /dev/ttyUSB0 (device), logged in, category adjust, no-ACK off, ..."
std::string LinkLine(const RS232c_bios& link) {
    const LinkState& state = link.State();
    const SerialPort* port = link.Port(state.link_port);
    const std::string device = port ? port->DeviceName() : platform::ComDeviceName(state.link_port);
    return Format("Link: COM%d %s (%s), %s, category %s, no-ACK %s, virtual mode %s, debug mode %s\n",
                  static_cast<int>(state.link_port), device.c_str(), platform::PortKind(device).c_str(),
                  state.link_connected == 1 ? "logged in" : "not logged in", CategoryWords(state.link_category),
                  OnOff(state.link_no_ack), OnOff(state.link_virtual), OnOff(state.link_debug));
}

// The user's groups; on Linux also whether dialout, which serial devices belong to, is one.
std::string GroupsLine() {
#ifdef _WIN32
    return {};
#else
    std::vector<gid_t> ids(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)) + 1);
    const int n = ::getgroups(static_cast<int>(ids.size() - 1), ids.data());
    ids.resize(static_cast<std::size_t>(std::max(n, 0)));
    ids.push_back(::getegid());
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    std::string names;
    bool dialout = false;
    for (const gid_t id : ids) {
        const group* g = ::getgrgid(id);
        const std::string name = g ? g->gr_name : std::to_string(id);
        dialout = dialout || name == "dialout";
        names += (names.empty() ? "" : ", ") + name;
    }
    std::string line = "Groups: " + names;
#ifdef __linux__
    line += dialout ? " (dialout: yes)" : " (dialout: no; serial devices need it)";
#endif
    return line + "\n";
#endif
}

}  // namespace

std::string DiagnosticTraceText(RS232c_bios& link, const std::filesystem::path& options) {
    std::string text = "dpx20remote diagnostic trace\n";
    text += "Version: " DPX20_VERSION "\n";
    text += "Date: " + FrameTrace::IsoTime(FrameTrace::WallMs()) + "\n";
    text += "System: " + QSysInfo::prettyProductName().toStdString() + " (" + QSysInfo::kernelType().toStdString() +
            " " + QSysInfo::kernelVersion().toStdString() + ", " + QSysInfo::currentCpuArchitecture().toStdString() +
            ")\n";
    text += std::string("Qt: ") + qVersion() + " (built with " QT_VERSION_STR ")\n";
    text += GroupsLine();
    text += LinkLine(link);
    const LinkState& state = link.State();
    if (!state.link_failure.empty()) text += "Last failure: " + state.link_failure + "\n";
    text += "\nCOM port map:\n";
    for (int n = 1; n <= 8; ++n) text += Format("COM%d  ", n) + platform::DescribeComPort(n) + "\n";
    text += "\nOptions file " + settings_file::ShownName(options) + ":\n" + FileText(options);
    const FrameTrace& trace = link.Trace();
    text += Format("\nFrame trace (the last %zu entries):\n", trace.Entries().size()) + trace.Text();
    return text;
}

bool WriteDiagnosticTrace(const std::string& path, RS232c_bios& link, const std::filesystem::path& options,
                          std::string* why) {
    const std::string text = DiagnosticTraceText(link, options);
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
