#include "settings/AdjustFile.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "common/MessageSink.h"
#include "settings/HexCodec.h"
#include "settings/SettingsFile.h"

namespace dpx {
namespace {

constexpr int kFileVersion = 1;
constexpr std::size_t kBufferSize = 1024;
constexpr int64_t kMinSize = 128;
constexpr int64_t kMaxSize = 1023;

// The five key lines in file order, for the writer and the reader alike.
struct AdjustKey {
    const char* comment;  // comment group that precedes the line, or nullptr
    const char* key;      // key and padding up to and including "= "
    int chars;            // 1: decimal digit; 2: hex text and "h"
    const char* missing;
};

const std::array<AdjustKey, 5> kAdjustKeys = {{
    {"\n//this file version\n", "adj_file_version   = ", 2,
     "The file version cannot get!\n\nCannot load data from file."},
    {"\n//for Adjust 2D3D UI control\n", "adj_mode           = ", 1,
     "The adj mode parameter cannot get!\n\nCannot load data from file."},
    {nullptr, "adj_parallax       = ", 2,
     "The parallax parameter cannot get!\n\nCannot load data from file."},
    {nullptr, "adj_intensity      = ", 2,
     "The intensity parameter cannot get!\n\nCannot load data from file."},
    {nullptr, "adj_sub.intensity  = ", 2,
     "The sub.intensity parameter cannot get!\n\nCannot load data from file."},
}};

constexpr char kHeader[] = "-----< DPX20 Remote Adjust Data >------------------\n";
constexpr char kEndLine[] = "\n-------------------======= End of Adj data =======\n";

}  // namespace

std::string AdjustFileText(int32_t mode, int32_t parallax, int32_t intensity, int32_t sub_intensity) {
    const int32_t values[] = {kFileVersion, mode, parallax, intensity, sub_intensity};
    std::string text = kHeader;
    for (std::size_t i = 0; i < kAdjustKeys.size(); ++i) {
        const AdjustKey& k = kAdjustKeys[i];
        if (k.comment) text += k.comment;
        text += k.key;
        text += k.chars == 1 ? std::to_string(values[i]) : ValueToHexText(values[i]) + "h";
        text += '\n';
    }
    text += kEndLine;
    return text;
}

void WriteAdjustFile(const std::string& file_name, int32_t mode, int32_t parallax,
                     int32_t intensity, int32_t sub_intensity) {
    if (file_name.empty()) {
        ShowMessage("WriteAdjustFile : Error! no file name.");
        return;
    }
    settings_file::WriteSettingsFile(file_name,
                                     AdjustFileText(mode, parallax, intensity, sub_intensity));
}

int ReadAdjustFile(const std::string& file_name, int32_t* mode, int32_t* parallax,
                   int32_t* intensity, int32_t* sub_intensity) {
    if (file_name.empty()) {
        ShowMessage("ReadAdjustFile : Error! no file name.");
        return 0;
    }
    char buffer[kBufferSize] = {};
    const settings_file::ReadResult file =
        settings_file::ReadSmallFile(file_name, buffer, sizeof buffer);
    if (file.status == settings_file::ReadResult::kMissing) {
        ShowMessage(Format("Do not found adjust file!\n\n[ file name = %s ]", file_name.c_str()));
        return 0;
    }
    if (file.status == settings_file::ReadResult::kUnreadable) {
        ShowMessage(Format("Cannot read the option file!\n\n[ %s ]",
                           settings_file::ShownName(settings_file::FullPath(file_name)).c_str()));
        return 0;
    }
    const int size = static_cast<int>(std::min<int64_t>(file.size, INT32_MAX));
    if (file.size > kMaxSize) {
        ShowMessage(Format("adj file size is too big! [ %d byte ]\n\nMaybe invalid file.\n"
                           "Cannot load data from file.",
                           size));
        return 0;
    }
    if (file.size < kMinSize) {
        ShowMessage(Format("adj file size is too small! [ %d byte ]\n\nMaybe invalid file.\n"
                           "Cannot load data from file.",
                           size));
        return 0;
    }

    settings_file::KeyWalk walk(buffer, sizeof buffer, file.size);
    int32_t values[kAdjustKeys.size()] = {};
    std::string value_text;
    for (std::size_t i = 0; i < kAdjustKeys.size(); ++i) {
        if (!walk.Next(kAdjustKeys[i].chars, value_text)) {
            ShowMessage(kAdjustKeys[i].missing);
            return 0;
        }
        values[i] = HexTextToValue(value_text);
        if (i != 0) continue;
        if (values[0] < kFileVersion) {
            ShowMessage(Format("This adj file version is old (ver.%d) !\nThis software recomand "
                               "the ver.%d.\n\nCannot load data from file.",
                               values[0], kFileVersion));
            return 0;
        }
        if (values[0] > kFileVersion) {
            ShowMessage(Format("This adj file version is too new (ver.%d) !\nNext save time, the "
                               "adj file version will be down (ver.%d).\n\nIf you save by this "
                               "software, the upper version software cannot Load this file!",
                               values[0], kFileVersion));
            return 0;
        }
    }
    bool end_found = false;
    if (!walk.EndLine(end_found)) {
        ShowMessage("Someting wrong! End of ini file cannot get.\n\nCannot load data from file.");
        return 0;
    }
    if (!end_found) {
        ShowMessage("Someting wrong! End of ini file not found.\n\nCannot load data from file.");
        return 0;
    }
    *mode = values[1];
    *parallax = values[2];
    *intensity = values[3];
    *sub_intensity = values[4];
    return 1;
}

std::string AdjustFileName(int n) { return Format("dpx20remote%02d.adj", n); }

}  // namespace dpx
