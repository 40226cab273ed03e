#include "dialogs/AdjustSdiLrDialog.h"

#include "dialogs/DialogControls.h"
#include "link/RS232c_bios.h"
#include "resources/AdjustSdiLrIds.h"

namespace dpx {
namespace {

using namespace res::adjust_sdilr;
constexpr int kLow = -60, kHigh = 60;

const dialogs::ChoiceGroup kModes{
    {{kOff, 0}, {kSplitMode, 1}, {kAnaglyph, 2}, {kLrSequential, 3}}, kOff, 0};

}  // namespace

AdjustSdiLrDialog::AdjustSdiLrDialog(QWidget* parent) : LayoutDialog(res::kLayoutAdjustSdiLr, parent) {
    for (int id : kModes.Ids())
        dialogs::OnClicked(this, id, [this, id] { ApplyMode(kModes.CodeOf(id)); });
    dialogs::OnBarMoved(this, kSplitBar, kLow, kHigh, [this] { BarMoved(); });
}

void AdjustSdiLrDialog::SetValues(int32_t mode, int32_t split) {
    mode_ = mode;
    split_ = split;
}

void AdjustSdiLrDialog::GetValues(int32_t* mode, int32_t* split) const {
    *mode = mode_;
    *split = split_;
}

void AdjustSdiLrDialog::InitDialog() {
    dialogs::SetUpBar(this, kSplitBar, kLow, kHigh, split_);
    ApplyMode(mode_);
    ApplySplit(split_);
    RefreshField();
}

void AdjustSdiLrDialog::ApplyMode(int32_t code) {
    dialogs::ApplyChoice(this, kModes, &mode_, code,
                         [](int32_t v) { return Link().SetAdjustMode(v); },
                         "Adjust Mode Select : RS232C error!");
    RefreshField();
}

// Sent whatever the mode, also while the adjust is off.
void AdjustSdiLrDialog::ApplySplit(int32_t p) {
    dialogs::ApplyValue(&split_, p, [](int32_t v) { return Link().SetSplitPosition(v); },
                        "On Split Scroll Bar Select : RS232C error!");
}

void AdjustSdiLrDialog::BarMoved() {
    const int position = dialogs::BarPosition(this, kSplitBar);
    if (position != split_) ApplySplit(position);
    RefreshField();
}

void AdjustSdiLrDialog::RefreshField() { dialogs::ShowNumber(this, kSplitField, split_); }

void AdjustSdiLrDialog::accept() {
    if (!dialogs::ReadNumber(this, kSplitField, kLow, kHigh, &split_)) return;
    LayoutDialog::accept();
}

void AdjustSdiLrDialog::reject() {
    ApplyMode(0);
    LayoutDialog::reject();
}

}  // namespace dpx
