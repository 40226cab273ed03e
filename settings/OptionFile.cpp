#include "settings/OptionFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "common/MessageSink.h"
#include "model/SettingTable.h"
#include "settings/HexCodec.h"
#include "settings/SettingsFile.h"

namespace dpx {
namespace {

constexpr int kFileVersion = 1;
constexpr std::size_t kBufferSize = 2048;  // the file and its terminating zero
constexpr int64_t kMinSize = 1024;
constexpr int64_t kMaxSize = 2047;

constexpr char kHeader[] = "-----< DPX20 Remote Settings >---------------------\n";
constexpr char kEndLine[] = "\n-------------------======= End of Settings =======\n";

// The version line comes first, then a line per setting of the table, in its order, each group
// behind a comment line. The key and its padding take 19 characters up to the 2D-3D adjust
// group and 18 from the SDI-LR adjust group on.
constexpr char kVersionComment[] = "\n//this file version\n";
constexpr char kVersionKey[] = "ini_file_version";
constexpr int kKeyWidth = 19;
constexpr Group kNarrowKeysFrom = Group::kAdjustSdiLr;

std::string KeyText(const char* key, int width) {
    std::string text = key;
    text.resize(std::max<std::size_t>(text.size(), static_cast<std::size_t>(width)), ' ');
    return text + "= ";
}

std::string KeyText(const Setting& s) { return KeyText(s.key, s.group >= kNarrowKeysFrom ? kKeyWidth - 1 : kKeyWidth); }

// The message when the key is missing; the no-ACK option's has always named it without its prefix.
std::string MissingMessage(const Setting& s) {
    const std::string name = s.field == &SettingsRecord::sys_no_ack ? "no_ack" : s.key;
    return "The " + name + " parameter cannot get!\n Create new ini file";
}

// Characters of the value text: one decimal digit, or two hex digits.
int Chars(FileForm form) { return form == FileForm::kDigit ? 1 : 2; }

bool IsOptionsFileName(const std::string& name) { return name == options_file_name; }

// Moves the damaged options file at `path` (the name itself, links not followed) aside; the
// result is the detail of its notice.
std::string KeepDamaged(const std::filesystem::path& path) {
    const settings_file::KeptFile kept = settings_file::KeepDamagedFile(path);
    const std::string name = settings_file::ShownName(path);
    switch (kept.status) {
        case settings_file::KeptFile::kKept:
            return "The damaged file is kept as " + settings_file::ShownName(kept.kept) + ".";
        case settings_file::KeptFile::kLeft:
            return "Nothing was kept as " + name + settings_file::kDamagedSuffix + ": " + name + " is " + kept.why +
                   ", which is left as it is (only a regular file is moved aside).";
        case settings_file::KeptFile::kFailed: break;
    }
    return "The damaged file could not be renamed to " + name + settings_file::kDamagedSuffix + ": " + kept.why + ".";
}

}  // namespace

std::string OptionFileText(const SettingsRecord& record) {
    std::string text = kHeader;
    text += kVersionComment + KeyText(kVersionKey, kKeyWidth) + ValueToHexText(kFileVersion) + "h\n";
    for (std::size_t i = 0; i < kSettings.size(); ++i) {
        const Setting& s = kSettings[i];
        if (i == 0 || kSettings[i - 1].group != s.group) text += std::string("\n//for ") + GroupName(s.group) + "\n";
        const int32_t value = record.*s.field;
        text += KeyText(s) + (s.form == FileForm::kDigit ? std::to_string(value) : ValueToHexText(value) + "h") + "\n";
    }
    text += kEndLine;
    return text;
}

void WriteOptionFile(const std::filesystem::path& file_name, const SettingsRecord& record) {
    if (file_name.empty()) {
        ShowMessage("WriteOptionFile : Error! no file name.");
        return;
    }
    settings_file::WriteSettingsFile(file_name, OptionFileText(record));
}

const char* const options_file_name = "dpx20remote.ini";

void OptionsFile::Save() const { WriteOptionFile(path.empty() ? std::filesystem::path(options_file_name) : path, record); }

int OptionsFile::Read(const std::string& file_name) { return ReadOptionFile(file_name, record, this); }

int OptionsFile::Read(const std::string& file_name, SettingsRecord& into) { return ReadOptionFile(file_name, into, this); }

int ReadOptionFile(const std::string& file_name, SettingsRecord& into, OptionsFile* kept) {
    char buffer[kBufferSize] = {};
    const settings_file::ReadResult file =
        settings_file::ReadSmallFile(file_name, buffer, sizeof buffer);
    const bool options_file = kept && IsOptionsFileName(file_name);

    if (file.status == settings_file::ReadResult::kMissing) {
        if (options_file) {
            ShowMessage(Format("Do not found option file!\n\nCreate new file.\n[ %s ]",
                               file_name.c_str()));
            kept->Save();
        } else {
            ShowMessage(Format("Do not found option file!\n\n[ file name = %s ]", file_name.c_str()));
        }
        return 0;
    }
    const std::filesystem::path full_path = settings_file::FullPath(file_name);
    if (options_file && file.opened && kept->path.empty()) kept->path = full_path;
    // The options file is about to be rewritten from the record (now, or by the next save for
    // one that cannot be read): the damaged file is moved aside first, so that nothing the
    // operator saved is lost, and the notice's detail says where it went.
    const auto notice = [&](const std::string& text) {
        std::error_code ec;
        const std::filesystem::path own_path = std::filesystem::absolute(file_name, ec);
        ShowMessage(text, options_file ? KeepDamaged(ec ? std::filesystem::path(file_name) : own_path) : std::string());
    };
    const auto fail = [&](const std::string& text) {
        notice(text);
        if (kept) kept->Save();
        return 0;
    };
    if (file.status == settings_file::ReadResult::kUnreadable) {
        // The notice's detail says why: what stands there instead of a file, or the system's reason.
        const std::string text = Format("Cannot read the option file!\n\n[ %s ]", settings_file::ShownName(full_path).c_str());
        const std::string why = settings_file::UnreadableReason(file_name);
        std::error_code ec;
        const std::filesystem::path own_path = std::filesystem::absolute(file_name, ec);
        const std::string kept = options_file ? KeepDamaged(ec ? std::filesystem::path(file_name) : own_path) : std::string();
        ShowMessage(text, kept.empty() ? why : why + "\n" + kept);
        return 0;
    }

    const int size = static_cast<int>(std::min<int64_t>(file.size, INT32_MAX));
    if (file.size > kMaxSize) {
        return fail(Format("ini file size is too big! [ %d byte ]\nMaybe invalid file.\n\n"
                           "Create new ini file.\n[ %s ]",
                           size, file_name.c_str()));
    }
    if (file.size < kMinSize) {
        return fail(Format("ini file size is too small! [ %d byte ]\nMaybe invalid file.\n\n"
                           "Create new ini file.\n[ %s ]",
                           size, file_name.c_str()));
    }

    settings_file::KeyWalk walk(buffer, sizeof buffer, file.size);
    std::string value_text;
    if (!walk.Next(2, value_text)) return fail("The file version cannot get!\n Create new ini file");
    {
        const int32_t value = HexTextToValue(value_text);
        if (value < kFileVersion) {
            return fail(Format("This ini file version is old (ver.%d) !\nCreate new ini file "
                               "(ver.%d).\n\nAll settings return to default!",
                               value, kFileVersion));
        }
        if (value > kFileVersion) {
            return fail(Format("This ini file version is too new (ver.%d) !\nNext save time, "
                               "the ini file version will be down (ver.%d).\n\nIf you start the "
                               "upper version software, all settings maybe return to default!",
                               value, kFileVersion));
        }
    }
    for (const Setting& s : kSettings) {
        if (!walk.Next(Chars(s.form), value_text)) return fail(MissingMessage(s));
        const int32_t value = HexTextToValue(value_text);
        if (s.link_option && kept && kept->connected) continue;
        into.*s.field = value;
    }

    bool end_found = false;
    if (!walk.EndLine(end_found)) {
        ShowMessage("Someting wrong! End of ini file cannot get.");
        return 0;
    }
    if (!end_found) ShowMessage("Someting wrong! End of ini file not found.");
    return 1;
}

std::string MemoryFileName(int n) { return Format("dpx20remote%02d.sav", n); }

}  // namespace dpx
