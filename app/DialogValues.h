#pragma once
// Each control dialog's values record, filled from the settings and copied back into them.
// A dialog gets its values before it runs and hands back what it changed, whichever button
// closed it; while it runs it shows what others (the control API, a memory load) change.
// A values record holds the settings of its group (Values::kGroup) as int32_t members, in
// the order of the settings table, so the table alone says which field is which.
#include <array>
#include <bit>
#include <cstdint>

#include "model/SettingTable.h"
#include "session/Session.h"
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

// Hands `dialog` its values from the session's record and runs it modally. Meanwhile a
// setting of its group changed by someone else shows in the dialog at once. Afterwards the
// record takes the values the dialog changed: a setting changed meanwhile by someone else keeps
// its value unless the dialog changed it too.
template <class Dialog>
void RunWithSettings(Dialog& dialog, Session& session) {
    using Values = typename Dialog::ValuesType;
    SettingsRecord& s = session.Record();
    Values given;
    FillFrom(s, given);
    dialog.SetValues(given);
    const int subscription = session.Subscribe([&dialog](const SessionEvent& e) {
        // The dialog's own changes come back as the panel's: it shows them already.
        if (e.kind != SessionEvent::Kind::kSetting || e.source == Source::kPanel) return;
        if (e.setting->group != Values::kGroup) return;
        auto values = std::bit_cast<ValuesArray<Values>>(dialog.GetValues());
        std::size_t i = 0;
        for (const Setting& setting : kSettings) {
            if (setting.group != Values::kGroup) continue;
            if (&setting == e.setting) values[i] = e.value;
            ++i;
        }
        dialog.SetValues(std::bit_cast<Values>(values));
        dialog.ShowValues();
    });
    ui::RunDialog(dialog);
    session.Unsubscribe(subscription);
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
