#pragma once
// Every setting of the record in one table: its options-file key and form, its group (which
// dialog shows it), its values and the value command that sends it to the box, and the steps
// of a synchronisation pass. The options file, the dialogs' values records, dpx20ctl, the
// synchronisation and whatever else lists or checks settings read it; the values the box
// itself takes and the device operations' range checks are those of the command's row in
// CommandTable. Pure data and functions, no I/O.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/CommandTable.h"
#include "model/SettingsRecord.h"

namespace dpx {

// The record's groups, in file order. A control dialog shows exactly the settings of its group,
// and its values record holds them in table order.
enum class Group {
    kTopDialog,
    kInputSelect,
    kOutputPreset,
    kFunction,
    kFunctionMemory,
    kAdjust2D3D,
    kAdjustSdiLr,
    kScope,
    kComPort,
};
// "Top Dialog UI control", ...: the name the options file gives the group.
const char* GroupName(Group group);

// How the files keep a value: one decimal digit, or two hex digits and "h" (-60 to 60).
enum class FileForm { kDigit, kHex };

inline constexpr int kNoCommand = -1;

struct Setting {
    const char* key;                 // options-file key, also the name dpx20ctl and the box dump use
    int32_t SettingsRecord::*field;
    Group group;
    FileForm form;
    bool link_option;                // a memory load keeps it while the panel is connected
    int command = kNoCommand;        // the value command that sends it; kNoCommand: the
                                     // controller keeps it and the box never sees it
    std::optional<ValueRange> own{}; // its values where they are not all its command's

    // The values it takes: its own, or else those of its command.
    ValueRange Range() const { return own ? *own : CommandTable[static_cast<std::size_t>(command)].values; }
    bool Valid(int32_t v) const { return Range().Holds(v); }
    // Whether the box keeps it: dpx20ctl set and the control API send these and no others.
    bool Settable() const { return command != kNoCommand; }
    bool Signed() const { return IsSignedCommand(command); }
    // The category select sent before its value command, or -1 without a command.
    int Select() const { return CategorySelectOf(command); }
};

inline constexpr ValueRange kOnOff{0, 1};

namespace setting_rows {
using R = SettingsRecord;
using enum Group;
using enum FileForm;

inline constexpr std::array<Setting, 34> kRows = {{
    {"sys_2D3D", &R::sys_2D3D, kTopDialog, kDigit, false, kCONVE},
    {"sys_no_ack", &R::sys_no_ack, kTopDialog, kDigit, true, kNoCommand, kOnOff},
    {"sys_sync_on", &R::sys_sync_on, kTopDialog, kDigit, true, kNoCommand, kOnOff},
    {"vertual_mode", &R::vertual_mode, kTopDialog, kDigit, true, kNoCommand, kOnOff},
    {"debug_mode", &R::debug_mode, kTopDialog, kDigit, true, kNoCommand, kOnOff},
    {"sys_input_select", &R::sys_input_select, kInputSelect, kDigit, false, kINPSE},
    {"sys_input_porality", &R::sys_input_porality, kInputSelect, kDigit, false, kBOTHP},
    {"sys_sdi_mix", &R::sys_sdi_mix, kOutputPreset, kDigit, false, kSDIMX},
    {"sys_hdmi_mix", &R::sys_hdmi_mix, kOutputPreset, kDigit, false, kHDMIM},
    {"sys_3dfmt", &R::sys_3dfmt, kOutputPreset, kDigit, false, k3DFOR},
    {"sys_rotate", &R::sys_rotate, kFunction, kDigit, false, kSDIRT},
    {"sys_f_sync", &R::sys_f_sync, kFunction, kDigit, false, kFRASY},
    {"sys_beep", &R::sys_beep, kFunction, kDigit, false, kBEEPA},
    {"sys_bk_light", &R::sys_bk_light, kFunction, kHex, false, kBACKL},
    {"sys_save1_para", &R::sys_save1_para, kFunctionMemory, kHex, false, kNoCommand, kAdjustValueRange},
    {"sys_save1_inte", &R::sys_save1_inte, kFunctionMemory, kHex, false, kNoCommand, kAdjustValueRange},
    {"sys_save1_subi", &R::sys_save1_subi, kFunctionMemory, kHex, false, kNoCommand, kAdjustValueRange},
    {"sys_save2_para", &R::sys_save2_para, kFunctionMemory, kHex, false, kNoCommand, kAdjustValueRange},
    {"sys_save2_inte", &R::sys_save2_inte, kFunctionMemory, kHex, false, kNoCommand, kAdjustValueRange},
    {"sys_save2_subi", &R::sys_save2_subi, kFunctionMemory, kHex, false, kNoCommand, kAdjustValueRange},
    // The radios send 0 (off), 4, 6 and 8; the box also takes the other variants of each mode.
    {"sys_adj3d_mode", &R::sys_adj3d_mode, kAdjust2D3D, kDigit, false, kADJMD,
     ValueRange{0, 8, 1u << 0 | 1u << 4 | 1u << 6 | 1u << 8}},
    {"sys_adj3d_para", &R::sys_adj3d_para, kAdjust2D3D, kHex, false, kADJPX},
    {"sys_adj3d_inte", &R::sys_adj3d_inte, kAdjust2D3D, kHex, false, kADJIY},
    {"sys_adj3d_subi", &R::sys_adj3d_subi, kAdjust2D3D, kHex, false, kADJSI},
    {"sys_LRadj_mode", &R::sys_LRadj_mode, kAdjustSdiLr, kDigit, false, kADJMD, ValueRange{0, 3}},
    {"sys_LRadj_split", &R::sys_LRadj_split, kAdjustSdiLr, kHex, false, kADJOS},
    {"sys_scp_mode", &R::sys_scp_mode, kScope, kDigit, false, kSCMOD},
    {"sys_scp_src", &R::sys_scp_src, kScope, kDigit, false, kSCSIG},
    {"sys_scp_pos", &R::sys_scp_pos, kScope, kDigit, false, kSCPOS},
    {"sys_scp_fil", &R::sys_scp_fil, kScope, kDigit, false, kSCPFI},
    {"sys_scp_wgain", &R::sys_scp_wgain, kScope, kHex, false, kSCWFG},
    {"sys_scp_vgain", &R::sys_scp_vgain, kScope, kHex, false, kSCVEG},
    {"com_port_num", &R::com_port_num, kComPort, kDigit, true, kNoCommand, ValueRange{1, 8}},
    {"load_adj_only", &R::load_adj_only, kComPort, kDigit, false, kNoCommand, kOnOff},
}};
}  // namespace setting_rows

// Every setting, in file order. A setting with a command goes to the box through
// link.SetValue(setting.command, value), the device operation of that command.
inline constexpr const std::array<Setting, 34>& kSettings = setting_rows::kRows;

// How many settings `group` has: the size of its dialog's values record.
constexpr std::size_t CountIn(Group group) {
    std::size_t n = 0;
    for (const Setting& s : kSettings) n += s.group == group ? 1 : 0;
    return n;
}

// The setting of `key`, or nullptr.
const Setting* FindSetting(std::string_view key);
// The setting of a field of the record (every field has one).
const Setting& SettingOf(int32_t SettingsRecord::*field);

// The values of `range` as a usage text: "0 or 1", "-30 to 30", "0, 4, 6 or 8".
std::string RangeText(const ValueRange& range);
// The keys of the settable settings, in table order, separated by spaces.
std::string SettableKeys();

// The settings that keep the link's mirror of the adjust values, in the mirror's order
// (RS232c_bios::GetAdjustValues): the current parallax, intensity and sub intensity, then
// those of the box's adjust memory 1 and memory 2.
inline constexpr std::array<int32_t SettingsRecord::*, 9> kAdjustMirror = {
    &SettingsRecord::sys_adj3d_para, &SettingsRecord::sys_adj3d_inte, &SettingsRecord::sys_adj3d_subi,
    &SettingsRecord::sys_save1_para, &SettingsRecord::sys_save1_inte, &SettingsRecord::sys_save1_subi,
    &SettingsRecord::sys_save2_para, &SettingsRecord::sys_save2_inte, &SettingsRecord::sys_save2_subi,
};

// ---------------------------------------------------------------- synchronisation

// When a step of a synchronisation pass runs ("SDI-LR": the input is sys_input_select 0).
enum class SyncWhen {
    kAlways,          // every full pass
    kSdiLr,           // full pass, SDI-LR input
    kSdiLrAdjustOff,  // full pass, SDI-LR input, SDI-LR adjust mode off
    kSdiLrScopeOn,    // the same, and the scope mode not off (off is never sent)
    kConversionOn,    // full pass, another input, conversion on
    kConversionOff,   // full pass, another input, conversion off
    kAdjustOnly,      // the adjust-only pass (load_adj_only), which needs conversion on
};

struct SyncStep {
    SyncWhen when;
    int32_t SettingsRecord::*field;  // the setting whose command the step sends
    std::optional<int32_t> value{};  // a fixed value instead of the setting's
};

namespace setting_rows {
// Every step in the order the box needs them: the box functions and outputs before the
// input, then one of three tails.
inline constexpr SyncStep kSyncRows[] = {
    {SyncWhen::kAlways, &R::sys_rotate},
    {SyncWhen::kAlways, &R::sys_f_sync},
    {SyncWhen::kAlways, &R::sys_beep},
    {SyncWhen::kAlways, &R::sys_beep, {}},  // the beep goes out in two steps
    {SyncWhen::kAlways, &R::sys_bk_light},
    {SyncWhen::kAlways, &R::sys_sdi_mix},
    {SyncWhen::kAlways, &R::sys_hdmi_mix},
    {SyncWhen::kAlways, &R::sys_3dfmt},
    {SyncWhen::kAlways, &R::sys_input_select},
    {SyncWhen::kAlways, &R::sys_input_porality},
    {SyncWhen::kSdiLr, &R::sys_LRadj_mode},
    {SyncWhen::kSdiLr, &R::sys_LRadj_split},
    {SyncWhen::kSdiLrAdjustOff, &R::sys_scp_src},
    {SyncWhen::kSdiLrAdjustOff, &R::sys_scp_pos},
    {SyncWhen::kSdiLrAdjustOff, &R::sys_scp_fil},
    {SyncWhen::kSdiLrAdjustOff, &R::sys_scp_wgain},
    {SyncWhen::kSdiLrAdjustOff, &R::sys_scp_vgain},
    {SyncWhen::kSdiLrScopeOn, &R::sys_scp_mode},
    {SyncWhen::kConversionOn, &R::sys_2D3D, 1},
    {SyncWhen::kConversionOn, &R::sys_adj3d_mode},
    {SyncWhen::kConversionOn, &R::sys_adj3d_para},
    {SyncWhen::kConversionOn, &R::sys_adj3d_inte},
    {SyncWhen::kConversionOn, &R::sys_adj3d_subi},
    // Conversion and adjust mode go out once more, after the three values.
    {SyncWhen::kConversionOn, &R::sys_2D3D, 1},
    {SyncWhen::kConversionOn, &R::sys_adj3d_mode},
    {SyncWhen::kConversionOff, &R::sys_2D3D, 0},
    {SyncWhen::kAdjustOnly, &R::sys_2D3D, 1},
    {SyncWhen::kAdjustOnly, &R::sys_adj3d_para},
    {SyncWhen::kAdjustOnly, &R::sys_adj3d_inte},
    {SyncWhen::kAdjustOnly, &R::sys_adj3d_subi},
};
}  // namespace setting_rows
inline constexpr const auto& kSyncSteps = setting_rows::kSyncRows;

// One step of a pass for a given record: the value command and the value it carries (the
// settings kept as two hex digits go as their low 8 bits).
struct SyncItem {
    const Setting* setting;
    int32_t value;
};
// The steps of one pass over `record`, in order.
std::vector<SyncItem> PassSteps(const SettingsRecord& record);

}  // namespace dpx
