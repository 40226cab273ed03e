#pragma once
// What the six control dialogs have in common: the link they send through, the values record
// of their group (handed in before the dialog runs, handed back after) and a view of those
// values that sends nothing, for changes made elsewhere (the control API) while the dialog is
// open.
#include <cstdint>
#include <vector>

#include "dialogs/DialogControls.h"
#include "link/RS232c_bios.h"
#include "model/SettingTable.h"
#include "ui/LayoutDialog.h"

namespace dpx::dialogs {

// How one setting shows in its dialog: its radios, or its bar with the read-only field beside it.
template <class Values>
struct SettingView {
    int32_t Values::*member;
    const ChoiceGroup* choices = nullptr;
    int bar = 0;
    int field = 0;
    ValueRange range{};
};

template <class Values>
class ControlDialog : public ui::LayoutDialog {
public:
    using ValuesType = Values;
    using View = SettingView<Values>;

    // Sends through `link`, which must outlive the dialog.
    ControlDialog(int layout_id, RS232c_bios& link, std::vector<View> views, QWidget* parent)
        : ui::LayoutDialog(layout_id, parent), link_(link), views_(std::move(views)) {}

    void SetValues(const Values& values) { values_ = values; }
    Values GetValues() const { return values_; }

    // Shows the values on their radios, bars and fields without sending anything.
    void ShowValues() {
        for (const View& view : views_) {
            int32_t& value = values_.*view.member;
            if (view.choices) {
                ShowChoice(this, *view.choices, &value);
                continue;
            }
            SetUpBar(this, view.bar, view.range.low, view.range.high, value);
            ShowNumber(this, view.field, value);
        }
    }

protected:
    RS232c_bios& link_;
    Values values_;

private:
    std::vector<View> views_;
};

}  // namespace dpx::dialogs
