#include "model/SettingTable.h"

#include <cstdlib>

namespace dpx {

const char* GroupName(Group group) {
    switch (group) {
        case Group::kTopDialog: return "Top Dialog UI control";
        case Group::kInputSelect: return "Input Select UI control";
        case Group::kOutputPreset: return "Output Preset UI control";
        case Group::kFunction: return "Function UI control";
        case Group::kFunctionMemory: return "Function UI control MEM saved value";
        case Group::kAdjust2D3D: return "Adjust 2D3D UI control";
        case Group::kAdjustSdiLr: return "Adjust SDI-LR UI control";
        case Group::kScope: return "Scope UI control";
        case Group::kComPort: return "COM port I/O";
    }
    return "";
}

const Setting* FindSetting(std::string_view key) {
    for (const Setting& s : kSettings)
        if (key == s.key) return &s;
    return nullptr;
}

const Setting& SettingOf(int32_t SettingsRecord::*field) {
    for (const Setting& s : kSettings)
        if (s.field == field) return s;
    std::abort();  // a field without a row: the table test fails first
}

std::string RangeText(const ValueRange& range) {
    if (range.only == 0) {
        const char* between = range.high == range.low + 1 ? " or " : " to ";
        return std::to_string(range.low) + between + std::to_string(range.high);
    }
    std::vector<int32_t> values;
    for (int32_t v = range.low; v <= range.high; ++v)
        if (range.Holds(v)) values.push_back(v);
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i)
        text += (i == 0 ? "" : i + 1 == values.size() ? " or " : ", ") + std::to_string(values[i]);
    return text;
}

std::string SettableKeys() {
    std::string keys;
    for (const Setting& s : kSettings)
        if (s.Settable()) keys += std::string(keys.empty() ? "" : " ") + s.key;
    return keys;
}

namespace {

bool Applies(SyncWhen when, const SettingsRecord& s) {
    const bool sdi_lr = s.sys_input_select == 0;
    const bool full = s.load_adj_only == 0;
    switch (when) {
        case SyncWhen::kAlways: return full;
        case SyncWhen::kSdiLr: return full && sdi_lr;
        case SyncWhen::kSdiLrAdjustOff: return full && sdi_lr && s.sys_LRadj_mode == 0;
        case SyncWhen::kSdiLrScopeOn: return full && sdi_lr && s.sys_LRadj_mode == 0 && s.sys_scp_mode != 0;
        case SyncWhen::kConversionOn: return full && !sdi_lr && s.sys_2D3D != 0;
        case SyncWhen::kConversionOff: return full && !sdi_lr && s.sys_2D3D == 0;
        case SyncWhen::kAdjustOnly: return !full && s.sys_2D3D != 0;
    }
    return false;
}

}  // namespace

std::vector<SyncItem> PassSteps(const SettingsRecord& record) {
    std::vector<SyncItem> items;
    for (const SyncStep& step : kSyncSteps) {
        if (!Applies(step.when, record)) continue;
        const Setting& setting = SettingOf(step.field);
        int32_t value = step.value ? *step.value : record.*step.field;
        if (setting.form == FileForm::kHex) value &= 0xFF;
        items.push_back({&setting, value});
    }
    return items;
}

}  // namespace dpx
