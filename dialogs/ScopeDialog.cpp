#include "dialogs/ScopeDialog.h"

#include "dialogs/DialogControls.h"
#include "resources/ScopeIds.h"

namespace dpx {
namespace {

using namespace res::scope;
const ValueRange kGain = SettingOf(&SettingsRecord::sys_scp_wgain).Range();  // both gains alike
const int kLow = kGain.low, kHigh = kGain.high;

// The first radio of each group shows a code the group does not list.
const dialogs::ChoiceGroup kModes{{{kModeOff, 0}, {kWfm, 1}, {kVectorScope, 2}}, kModeOff, 0};
const dialogs::ChoiceGroup kSignals{{{kParallel, 0}, {kBalance, 1}, {kIn1, 2}, {kIn2, 3}}, kParallel, 0};
// Laid out as a square of screen corners; the codes do not follow the screen order.
const dialogs::ChoiceGroup kPositions{{{kRightLower, 0}, {kLeftLower, 1}, 
                                      {kLeftUpper, 2}, {kRightUpper, 3}}, kRightLower, 0};
const dialogs::ChoiceGroup kFilters{{{kFlat, 0}, {kLowPass, 1}}, kFlat, 0};

}  // namespace

ScopeDialog::ScopeDialog(RS232c_bios& link, QWidget* parent)
    : ControlDialog(res::kLayoutScope, link,
      {{&ScopeValues::sys_scp_mode, &kModes}, {&ScopeValues::sys_scp_src, &kSignals},
       {&ScopeValues::sys_scp_pos, &kPositions}, {&ScopeValues::sys_scp_fil, &kFilters},
       {&ScopeValues::sys_scp_wgain, nullptr, kWfmBar, kWfmField, kGain},
       {&ScopeValues::sys_scp_vgain, nullptr, kVectorBar, kVectorField, kGain}},
      parent) {
    for (int id : kModes.Ids())
        dialogs::OnClicked(this, id, [this, id] { ApplyScopeMode(kModes.CodeOf(id)); });
    for (int id : kSignals.Ids())
        dialogs::OnClicked(this, id, [this, id] { ApplyScopeSignal(kSignals.CodeOf(id)); });
    for (int id : kPositions.Ids())
        dialogs::OnClicked(this, id, [this, id] { ApplyScopePosition(kPositions.CodeOf(id)); });
    for (int id : kFilters.Ids())
        dialogs::OnClicked(this, id, [this, id] { ApplyScopeFilter(kFilters.CodeOf(id)); });
    for (int bar : {kWfmBar, kVectorBar})
        dialogs::OnBarMoved(this, bar, kLow, kHigh, [this] { BarsMoved(); });
}

void ScopeDialog::InitDialog() {
    dialogs::SetUpBar(this, kWfmBar, kLow, kHigh, values_.sys_scp_wgain);
    dialogs::SetUpBar(this, kVectorBar, kLow, kHigh, values_.sys_scp_vgain);
    ApplyScopeMode(values_.sys_scp_mode);
    ApplyScopeSignal(values_.sys_scp_src);
    ApplyScopePosition(values_.sys_scp_pos);
    ApplyScopeFilter(values_.sys_scp_fil);
    ApplyWfmGain(values_.sys_scp_wgain);
    ApplyVectorGain(values_.sys_scp_vgain);
    RefreshFields();
}

void ScopeDialog::ApplyScopeMode(int32_t v) {
    dialogs::ApplyChoice(this, kModes, &values_.sys_scp_mode, v, [this](int32_t x) { return link_.SetScopeMode(x); },
                         "Scope Mode Select : RS232C error!");
    RefreshFields();
}

void ScopeDialog::ApplyScopeSignal(int32_t v) {
    dialogs::ApplyChoice(this, kSignals, &values_.sys_scp_src, v, [this](int32_t x) { return link_.SetScopeSource(x); },
                         "Scope Source Select : RS232C error!");
    RefreshFields();
}

void ScopeDialog::ApplyScopePosition(int32_t v) {
    dialogs::ApplyChoice(this, kPositions, &values_.sys_scp_pos, v,
                         [this](int32_t x) { return link_.SetScopePosition(x); },
                         "Scope Position Select : RS232C error!");
    RefreshFields();
}

void ScopeDialog::ApplyScopeFilter(int32_t v) {
    dialogs::ApplyChoice(this, kFilters, &values_.sys_scp_fil, v, [this](int32_t x) { return link_.SetScopeFilter(x); },
                         "Scope Filter Select : RS232C error!");
    RefreshFields();
}

// The gains are sent whatever the scope mode, also while the scope is off.
void ScopeDialog::ApplyWfmGain(int32_t g) {
    dialogs::ApplyValue(&values_.sys_scp_wgain, g, [this](int32_t x) { return link_.SetWfmGain(x); },
                        "W.F.M. Gain Scroll Bar Select : RS232C error!");
}

void ScopeDialog::ApplyVectorGain(int32_t g) {
    dialogs::ApplyValue(&values_.sys_scp_vgain, g, [this](int32_t x) { return link_.SetVectorGain(x); },
                        "Vector Scope Gain Scroll Bar Select : RS232C error!");
}

void ScopeDialog::BarsMoved() {
    const int wfm = dialogs::BarPosition(this, kWfmBar);
    if (wfm != values_.sys_scp_wgain) ApplyWfmGain(wfm);
    const int vector = dialogs::BarPosition(this, kVectorBar);
    if (vector != values_.sys_scp_vgain) ApplyVectorGain(vector);
    RefreshFields();
}

void ScopeDialog::RefreshFields() {
    dialogs::ShowNumber(this, kWfmField, values_.sys_scp_wgain);
    dialogs::ShowNumber(this, kVectorField, values_.sys_scp_vgain);
}

void ScopeDialog::accept() {
    if (!dialogs::ReadNumber(this, kWfmField, kLow, kHigh, &values_.sys_scp_wgain)) return;
    if (!dialogs::ReadNumber(this, kVectorField, kLow, kHigh, &values_.sys_scp_vgain)) return;
    ControlDialog::accept();
}

void ScopeDialog::reject() {
    ApplyScopeMode(0);
    ControlDialog::reject();
}

}  // namespace dpx
