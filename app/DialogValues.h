#pragma once
// Each control dialog's values record, filled from the settings and copied back into them.
// A dialog gets its values before it runs and hands back what it changed, whichever button
// closed it.
// A values record holds the settings of its group (Values::kGroup) as int32_t members, in
// the order of the settings table, so the table alone says which field is which.
#include <array>
#include <bit>
#include <cstdint>

#include "model/SettingTable.h"
#include "settings/SystemSettings.h"
#include "ui/LayoutDialog.h"

namespace dpx {

template <class Values>
using ValuesArray = std::array<int32_t, CountIn(Values::kGroup)>;

template <class Values>
void FillFrom(const SettingsRecord& s, Values& v) {
    static_assert(sizeof(Values) == sizeof(ValuesArray<Values>), "one member per setting of the group");
    ValuesArray<Values> values{};
    std::size_t i = 0;
    for (const Setting& setting : kSettings)
        if (setting.group == Values::kGroup) values[i++] = s.*setting.field;
    v = std::bit_cast<Values>(values);
}

// Hands `dialog` its values from `s`, runs it modally and copies back into `s` the values the
// dialog changed: a setting changed meanwhile by someone else (the control API) keeps its
// value unless the dialog changed it too.
template <class Dialog>
void RunWithSettings(Dialog& dialog, SettingsRecord& s) {
    using Values = decltype(dialog.GetValues());
    Values given;
    FillFrom(s, given);
    dialog.SetValues(given);
    ui::RunDialog(dialog);
    const auto before = std::bit_cast<ValuesArray<Values>>(given);
    const auto after = std::bit_cast<ValuesArray<Values>>(dialog.GetValues());
    std::size_t i = 0;
    for (const Setting& setting : kSettings) {
        if (setting.group != Values::kGroup) continue;
        if (after[i] != before[i]) s.*setting.field = after[i];
        ++i;
    }
}

}  // namespace dpx
