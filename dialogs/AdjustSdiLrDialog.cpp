#include "dialogs/AdjustSdiLrDialog.h"

#include "resources/AdjustSdiLrIds.h"

namespace dpx {
namespace {

using namespace res::adjust_sdilr;
using V = AdjustSdiLrValues;

const dialogs::ChoiceGroup kModes{
    {{kOff, 0}, {kSplitMode, 1}, {kAnaglyph, 2}, {kLrSequential, 3}}, kOff, 0};

}  // namespace

AdjustSdiLrDialog::AdjustSdiLrDialog(Session& session, QWidget* parent)
    : ControlDialog(res::kLayoutAdjustSdiLr, session,
                    {{&V::sys_LRadj_mode, &kModes, 0, 0, "Adjust Mode Select : RS232C error!"},
                     {&V::sys_LRadj_split, nullptr, kSplitBar, kSplitField, "On Split Scroll Bar Select : RS232C error!"}},
                    parent) {
    FollowRadios();
    FollowBars();
}

// The split is sent whatever the mode, also while the adjust is off.
void AdjustSdiLrDialog::InitDialog() {
    ShowBars();
    Resend(&V::sys_LRadj_mode);
    Resend(&V::sys_LRadj_split);
    ShowFields();
}

void AdjustSdiLrDialog::accept() {
    if (ReadFields()) ControlDialog::accept();
}

void AdjustSdiLrDialog::reject() {
    Apply(&V::sys_LRadj_mode, 0);
    ControlDialog::reject();
}

}  // namespace dpx
