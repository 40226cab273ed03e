#include "ctl/BoxFile.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <sstream>

#include "common/Format.h"

namespace dpx::cli {
namespace {

// The code points of UTF-8 `text` in order; false when it is not UTF-8 (overlong forms,
// surrogates and values past U+10FFFF included).
bool CodePoints(std::string_view text, std::vector<uint32_t>& out) {
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        int more = 0;
        uint32_t cp = 0;
        if (byte < 0x80) { cp = byte; }
        else if ((byte & 0xE0) == 0xC0) { cp = byte & 0x1F; more = 1; }
        else if ((byte & 0xF0) == 0xE0) { cp = byte & 0x0F; more = 2; }
        else if ((byte & 0xF8) == 0xF0) { cp = byte & 0x07; more = 3; }
        else return false;
        if (i + static_cast<std::size_t>(more) >= text.size()) return false;  // cut short
        for (int k = 1; k <= more; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (next & 0x3F);
        }
        static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        out.push_back(cp);
        i += static_cast<std::size_t>(more) + 1;
    }
    return true;
}

bool Control(uint32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp == 0x2028 || cp == 0x2029; }

std::string Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return std::string(text);
}

}  // namespace

bool ValidBoxName(std::string_view name) {
    std::vector<uint32_t> cps;
    if (name.empty() || !CodePoints(name, cps) || cps.size() > 32) return false;
    for (const uint32_t cp : cps) {
        if (cp < 0x80 ? !(std::isalnum(static_cast<int>(cp)) || cp == '-' || cp == '_') : Control(cp) || cp == 0xA0 || cp == 0xFEFF)
            return false;
    }
    return true;
}

bool PlainText(std::string_view text, std::size_t limit) {
    std::vector<uint32_t> cps;
    if (!CodePoints(text, cps) || cps.size() > limit) return false;
    for (const uint32_t cp : cps)
        if (Control(cp)) return false;
    return true;
}

BoxFile ParseBoxFile(std::string_view text) {
    BoxFile file;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte order mark some editors write
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string line = Trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        ++number;
        if (line.empty() || line.front() == '#') continue;
        const std::size_t eq = line.find('=');
        const std::string key = eq == std::string::npos ? line : Trimmed(std::string_view(line).substr(0, eq));
        const std::string value = eq == std::string::npos ? std::string() : Trimmed(std::string_view(line).substr(eq + 1));
        std::string* field = key == "label" ? &file.label : key == "location" ? &file.location : nullptr;
        if (!field || eq == std::string::npos) {
            file.problems.push_back(Format("line %d: only label = TEXT and location = TEXT are taken", number));
        } else if (!PlainText(value, kBoxTextLimit)) {
            file.problems.push_back(Format("line %d: the %s is not UTF-8 text of at most %zu characters", number,
                                           key.c_str(), kBoxTextLimit));
        } else {
            *field = value;
        }
    }
    return file;
}

BoxFile ReadBoxFile(const std::filesystem::path& folder) {
    const std::filesystem::path path = folder / kBoxFileName;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return {};
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    if (!in || text.str().size() > 4096) {
        BoxFile file;
        file.problems.push_back(path.string() + " cannot be read (a file of at most 4096 bytes)");
        return file;
    }
    BoxFile file = ParseBoxFile(text.str());
    for (std::string& problem : file.problems) problem = path.string() + " " + problem;
    return file;
}

}  // namespace dpx::cli
