#include "dialogs/ScopeDialog.h"

#include "resources/ScopeIds.h"

namespace dpx {
namespace {

using namespace res::scope;
using V = ScopeValues;

// The first radio of each group shows a code the group does not list.
const dialogs::ChoiceGroup kModes{{{kModeOff, 0}, {kWfm, 1}, {kVectorScope, 2}}, kModeOff, 0};
const dialogs::ChoiceGroup kSignals{{{kParallel, 0}, {kBalance, 1}, {kIn1, 2}, {kIn2, 3}}, kParallel, 0};
// Laid out as a square of screen corners; the codes do not follow the screen order.
const dialogs::ChoiceGroup kPositions{{{kRightLower, 0}, {kLeftLower, 1}, 
                                      {kLeftUpper, 2}, {kRightUpper, 3}}, kRightLower, 0};
const dialogs::ChoiceGroup kFilters{{{kFlat, 0}, {kLowPass, 1}}, kFlat, 0};

}  // namespace

ScopeDialog::ScopeDialog(Session& session, QWidget* parent)
    : ControlDialog(res::kLayoutScope, session,
                    {{&V::sys_scp_mode, &kModes, 0, 0, "Scope Mode Select : RS232C error!"},
                     {&V::sys_scp_src, &kSignals, 0, 0, "Scope Source Select : RS232C error!"},
                     {&V::sys_scp_pos, &kPositions, 0, 0, "Scope Position Select : RS232C error!"},
                     {&V::sys_scp_fil, &kFilters, 0, 0, "Scope Filter Select : RS232C error!"},
                     {&V::sys_scp_wgain, nullptr, kWfmBar, kWfmField, "W.F.M. Gain Scroll Bar Select : RS232C error!"},
                     {&V::sys_scp_vgain, nullptr, kVectorBar, kVectorField,
                      "Vector Scope Gain Scroll Bar Select : RS232C error!"}},
                    parent) {
    FollowRadios();
    FollowBars();
}

// All six are sent, the gains whatever the scope mode, also while the scope is off.
void ScopeDialog::InitDialog() {
    ShowBars();
    for (int32_t V::*member : {&V::sys_scp_mode, &V::sys_scp_src, &V::sys_scp_pos, &V::sys_scp_fil,
                               &V::sys_scp_wgain, &V::sys_scp_vgain})
        Resend(member);
    ShowFields();
}

void ScopeDialog::accept() {
    if (ReadFields()) ControlDialog::accept();
}

void ScopeDialog::reject() {
    Apply(&V::sys_scp_mode, 0);
    ControlDialog::reject();
}

}  // namespace dpx
