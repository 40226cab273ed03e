#include "dialogs/AdjustSdiLrDialog.h"

#include "dialogs/DialogControls.h"
#include "resources/AdjustSdiLrIds.h"

namespace dpx {
namespace {

using namespace res::adjust_sdilr;
const ValueRange kSplit = SettingOf(&SettingsRecord::sys_LRadj_split).Range();
const int kLow = kSplit.low, kHigh = kSplit.high;

const dialogs::ChoiceGroup kModes{
    {{kOff, 0}, {kSplitMode, 1}, {kAnaglyph, 2}, {kLrSequential, 3}}, kOff, 0};

}  // namespace

AdjustSdiLrDialog::AdjustSdiLrDialog(RS232c_bios& link, QWidget* parent)
    : ControlDialog(res::kLayoutAdjustSdiLr, link,
      {{&AdjustSdiLrValues::sys_LRadj_mode, &kModes},
       {&AdjustSdiLrValues::sys_LRadj_split, nullptr, kSplitBar, kSplitField, kSplit}},
      parent) {
    for (int id : kModes.Ids())
        dialogs::OnClicked(this, id, [this, id] { ApplyMode(kModes.CodeOf(id)); });
    dialogs::OnBarMoved(this, kSplitBar, kLow, kHigh, [this] { BarMoved(); });
}

void AdjustSdiLrDialog::InitDialog() {
    dialogs::SetUpBar(this, kSplitBar, kLow, kHigh, values_.sys_LRadj_split);
    ApplyMode(values_.sys_LRadj_mode);
    ApplySplit(values_.sys_LRadj_split);
    RefreshField();
}

void AdjustSdiLrDialog::ApplyMode(int32_t code) {
    dialogs::ApplyChoice(this, kModes, &values_.sys_LRadj_mode, code,
                         [this](int32_t v) { return link_.SetAdjustMode(v); },
                         "Adjust Mode Select : RS232C error!");
    RefreshField();
}

// Sent whatever the mode, also while the adjust is off.
void AdjustSdiLrDialog::ApplySplit(int32_t p) {
    dialogs::ApplyValue(&values_.sys_LRadj_split, p, [this](int32_t v) { return link_.SetSplitPosition(v); },
                        "On Split Scroll Bar Select : RS232C error!");
}

void AdjustSdiLrDialog::BarMoved() {
    const int position = dialogs::BarPosition(this, kSplitBar);
    if (position != values_.sys_LRadj_split) ApplySplit(position);
    RefreshField();
}

void AdjustSdiLrDialog::RefreshField() { dialogs::ShowNumber(this, kSplitField, values_.sys_LRadj_split); }

void AdjustSdiLrDialog::accept() {
    if (!dialogs::ReadNumber(this, kSplitField, kLow, kHigh, &values_.sys_LRadj_split)) return;
    ControlDialog::accept();
}

void AdjustSdiLrDialog::reject() {
    ApplyMode(0);
    ControlDialog::reject();
}

}  // namespace dpx
