#include "settings/OptionFile.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

#include "common/MessageSink.h"
#include "settings/HexCodec.h"
#include "settings/SettingsFile.h"

namespace dpx {
namespace {

constexpr int kFileVersion = 1;
constexpr std::size_t kBufferSize = 2048;  // the file and its terminating zero
constexpr int64_t kMinSize = 1024;
constexpr int64_t kMaxSize = 2047;

// One key line of the file, in file order. It drives both the writer (comment, key text,
// value form) and the reader (value width, link option, message when the key is missing).
struct OptionKey {
    const char* comment;           // comment group that precedes the line, or nullptr
    const char* key;               // key and padding up to and including "= "
    int32_t SettingsRecord::*field;  // nullptr for the file version
    int chars;                     // 1: decimal digit ("%01d"); 2: hex text and "h"
    bool link;                     // left unchanged by the reader while the panel is connected
    const char* missing;
};

using R = SettingsRecord;
const std::array<OptionKey, 35> kOptionKeys = {{
    {"\n//this file version\n", "ini_file_version   = ", nullptr, 2, false,
     "The file version cannot get!\n Create new ini file"},
    {"\n//for Top Dialog UI control\n", "sys_2D3D           = ", &R::sys_2D3D, 1, false,
     "The sys_2D3D parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_no_ack         = ", &R::sys_no_ack, 1, true,
     "The no_ack parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_sync_on        = ", &R::sys_sync_on, 1, true,
     "The sys_sync_on parameter cannot get!\n Create new ini file"},
    {nullptr, "vertual_mode       = ", &R::vertual_mode, 1, true,
     "The vertual_mode parameter cannot get!\n Create new ini file"},
    {nullptr, "debug_mode         = ", &R::debug_mode, 1, true,
     "The debug_mode parameter cannot get!\n Create new ini file"},
    {"\n//for Input Select UI control\n", "sys_input_select   = ", &R::sys_input_select, 1, false,
     "The sys_input_select parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_input_porality = ", &R::sys_input_porality, 1, false,
     "The sys_input_porality parameter cannot get!\n Create new ini file"},
    {"\n//for Output Preset UI control\n", "sys_sdi_mix        = ", &R::sys_sdi_mix, 1, false,
     "The sys_sdi_mix parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_hdmi_mix       = ", &R::sys_hdmi_mix, 1, false,
     "The sys_hdmi_mix parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_3dfmt          = ", &R::sys_3dfmt, 1, false,
     "The sys_3dfmt parameter cannot get!\n Create new ini file"},
    {"\n//for Function UI control\n", "sys_rotate         = ", &R::sys_rotate, 1, false,
     "The sys_rotate parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_f_sync         = ", &R::sys_f_sync, 1, false,
     "The sys_f_sync parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_beep           = ", &R::sys_beep, 1, false,
     "The sys_beep parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_bk_light       = ", &R::sys_bk_light, 2, false,
     "The sys_bk_light parameter cannot get!\n Create new ini file"},
    {"\n//for Function UI control MEM saved value\n", "sys_save1_para     = ", &R::sys_save1_para, 2,
     false, "The sys_save1_para parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_save1_inte     = ", &R::sys_save1_inte, 2, false,
     "The sys_save1_inte parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_save1_subi     = ", &R::sys_save1_subi, 2, false,
     "The sys_save1_subi parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_save2_para     = ", &R::sys_save2_para, 2, false,
     "The sys_save2_para parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_save2_inte     = ", &R::sys_save2_inte, 2, false,
     "The sys_save2_inte parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_save2_subi     = ", &R::sys_save2_subi, 2, false,
     "The sys_save2_subi parameter cannot get!\n Create new ini file"},
    {"\n//for Adjust 2D3D UI control\n", "sys_adj3d_mode     = ", &R::sys_adj3d_mode, 1, false,
     "The sys_adj3d_mode parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_adj3d_para     = ", &R::sys_adj3d_para, 2, false,
     "The sys_adj3d_para parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_adj3d_inte     = ", &R::sys_adj3d_inte, 2, false,
     "The sys_adj3d_inte parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_adj3d_subi     = ", &R::sys_adj3d_subi, 2, false,
     "The sys_adj3d_subi parameter cannot get!\n Create new ini file"},
    // From here on the key and its padding take 18 characters, not 19.
    {"\n//for Adjust SDI-LR UI control\n", "sys_LRadj_mode    = ", &R::sys_LRadj_mode, 1, false,
     "The sys_LRadj_mode parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_LRadj_split   = ", &R::sys_LRadj_split, 2, false,
     "The sys_LRadj_split parameter cannot get!\n Create new ini file"},
    {"\n//for Scope UI control\n", "sys_scp_mode      = ", &R::sys_scp_mode, 1, false,
     "The sys_scp_mode parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_scp_src       = ", &R::sys_scp_src, 1, false,
     "The sys_scp_src parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_scp_pos       = ", &R::sys_scp_pos, 1, false,
     "The sys_scp_pos parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_scp_fil       = ", &R::sys_scp_fil, 1, false,
     "The sys_scp_fil parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_scp_wgain     = ", &R::sys_scp_wgain, 2, false,
     "The sys_scp_wgain parameter cannot get!\n Create new ini file"},
    {nullptr, "sys_scp_vgain     = ", &R::sys_scp_vgain, 2, false,
     "The sys_scp_vgain parameter cannot get!\n Create new ini file"},
    {"\n//for COM port I/O\n", "com_port_num      = ", &R::com_port_num, 1, true,
     "The com_port_num parameter cannot get!\n Create new ini file"},
    {nullptr, "load_adj_only     = ", &R::load_adj_only, 1, false,
     "The load_adj_only parameter cannot get!\n Create new ini file"},
}};

constexpr char kHeader[] = "-----< DPX20 Remote Settings >---------------------\n";
constexpr char kEndLine[] = "\n-------------------======= End of Settings =======\n";

bool IsOptionsFileName(const std::string& name) { return name == options_file_name; }

// Moves the damaged options file at `path` aside; the result is the detail of its notice.
std::string KeepDamaged(const std::filesystem::path& path) {
    std::string why;
    const std::filesystem::path kept = settings_file::KeepDamagedFile(path, &why);
    if (!kept.empty()) return "The damaged file is kept as " + settings_file::ShownName(kept) + ".";
    return "The damaged file could not be renamed to " + settings_file::ShownName(path) +
           settings_file::kDamagedSuffix + ": " + why + ".";
}

}  // namespace

std::string OptionFileText(const SettingsRecord& record) {
    std::string text = kHeader;
    for (const OptionKey& k : kOptionKeys) {
        if (k.comment) text += k.comment;
        text += k.key;
        const int32_t value = k.field ? record.*k.field : kFileVersion;
        text += k.chars == 1 ? std::to_string(value) : ValueToHexText(value) + "h";
        text += '\n';
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

void SaveOptionFile() {
    WriteOptionFile(options_file_path.empty() ? std::filesystem::path(options_file_name)
                                              : options_file_path,
                    SystemSettings);
}

int ReadOptionFile(const std::string& file_name, SettingsRecord& into, Rewrite rewrite) {
    char buffer[kBufferSize] = {};
    const settings_file::ReadResult file =
        settings_file::ReadSmallFile(file_name, buffer, sizeof buffer);
    const bool options_file = rewrite == Rewrite::kOnFailure && IsOptionsFileName(file_name);

    if (file.status == settings_file::ReadResult::kMissing) {
        if (options_file) {
            ShowMessage(Format("Do not found option file!\n\nCreate new file.\n[ %s ]",
                               file_name.c_str()));
            SaveOptionFile();
        } else {
            ShowMessage(Format("Do not found option file!\n\n[ file name = %s ]", file_name.c_str()));
        }
        return 0;
    }
    const std::filesystem::path full_path = settings_file::FullPath(file_name);
    if (options_file && file.opened && options_file_path.empty()) options_file_path = full_path;
    // The options file is about to be rewritten from the record (now, or by the next save for
    // one that cannot be read): the damaged file is moved aside first, so that nothing the
    // operator saved is lost, and the notice's detail says where it went.
    const auto notice = [&](const std::string& text) {
        ShowMessage(text, options_file ? KeepDamaged(full_path) : std::string());
    };
    const auto fail = [&](const std::string& text) {
        notice(text);
        if (rewrite == Rewrite::kOnFailure) SaveOptionFile();
        return 0;
    };
    if (file.status == settings_file::ReadResult::kUnreadable) {
        notice(Format("Cannot read the option file!\n\n[ %s ]",
                      settings_file::ShownName(full_path).c_str()));
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
    for (const OptionKey& k : kOptionKeys) {
        if (!walk.Next(k.chars, value_text)) return fail(k.missing);
        const int32_t value = HexTextToValue(value_text);
        if (!k.field) {
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
            continue;
        }
        if (k.link && panel_connected == 1) continue;
        into.*k.field = value;
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
