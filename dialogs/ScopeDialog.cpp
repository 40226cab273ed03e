#include "dialogs/ScopeDialog.h"

#include "dialogs/DialogControls.h"
#include "link/RS232c_bios.h"
#include "resources/ScopeIds.h"

namespace dpx {
namespace {

using namespace res::scope;
constexpr int kLow = -30, kHigh = 30;

// The first radio of each group shows a code the group does not list.
const dialogs::ChoiceGroup kModes{{{kModeOff, 0}, {kWfm, 1}, {kVectorScope, 2}}, kModeOff, 0};
const dialogs::ChoiceGroup kSignals{{{kParallel, 0}, {kBalance, 1}, {kIn1, 2}, {kIn2, 3}}, kParallel, 0};
// Laid out as a square of screen corners; the codes do not follow the screen order.
const dialogs::ChoiceGroup kPositions{{{kRightLower, 0}, {kLeftLower, 1}, 
                                      {kLeftUpper, 2}, {kRightUpper, 3}}, kRightLower, 0};
const dialogs::ChoiceGroup kFilters{{{kFlat, 0}, {kLowPass, 1}}, kFlat, 0};

}  // namespace

ScopeDialog::ScopeDialog(QWidget* parent) : LayoutDialog(res::kLayoutScope, parent) {
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

void ScopeDialog::SetValues(int32_t mode, int32_t signal, int32_t position, int32_t filter,
                            int32_t wfm_gain, int32_t vector_gain) {
    mode_ = mode;
    signal_ = signal;
    position_ = position;
    filter_ = filter;
    wfm_gain_ = wfm_gain;
    vector_gain_ = vector_gain;
}

void ScopeDialog::GetValues(int32_t* mode, int32_t* signal, int32_t* position, int32_t* filter,
                            int32_t* wfm_gain, int32_t* vector_gain) const {
    *mode = mode_;
    *signal = signal_;
    *position = position_;
    *filter = filter_;
    *wfm_gain = wfm_gain_;
    *vector_gain = vector_gain_;
}

void ScopeDialog::InitDialog() {
    dialogs::SetUpBar(this, kWfmBar, kLow, kHigh, wfm_gain_);
    dialogs::SetUpBar(this, kVectorBar, kLow, kHigh, vector_gain_);
    ApplyScopeMode(mode_);
    ApplyScopeSignal(signal_);
    ApplyScopePosition(position_);
    ApplyScopeFilter(filter_);
    ApplyWfmGain(wfm_gain_);
    ApplyVectorGain(vector_gain_);
    RefreshFields();
}

void ScopeDialog::ApplyScopeMode(int32_t v) {
    dialogs::ApplyChoice(this, kModes, &mode_, v, [](int32_t x) { return Link().SetScopeMode(x); },
                         "Scope Mode Select : RS232C error!");
    RefreshFields();
}

void ScopeDialog::ApplyScopeSignal(int32_t v) {
    dialogs::ApplyChoice(this, kSignals, &signal_, v, [](int32_t x) { return Link().SetScopeSource(x); },
                         "Scope Source Select : RS232C error!");
    RefreshFields();
}

void ScopeDialog::ApplyScopePosition(int32_t v) {
    dialogs::ApplyChoice(this, kPositions, &position_, v,
                         [](int32_t x) { return Link().SetScopePosition(x); },
                         "Scope Position Select : RS232C error!");
    RefreshFields();
}

void ScopeDialog::ApplyScopeFilter(int32_t v) {
    dialogs::ApplyChoice(this, kFilters, &filter_, v, [](int32_t x) { return Link().SetScopeFilter(x); },
                         "Scope Filter Select : RS232C error!");
    RefreshFields();
}

// The gains are sent whatever the scope mode, also while the scope is off.
void ScopeDialog::ApplyWfmGain(int32_t g) {
    dialogs::ApplyValue(&wfm_gain_, g, [](int32_t x) { return Link().SetWfmGain(x); },
                        "W.F.M. Gain Scroll Bar Select : RS232C error!");
}

void ScopeDialog::ApplyVectorGain(int32_t g) {
    dialogs::ApplyValue(&vector_gain_, g, [](int32_t x) { return Link().SetVectorGain(x); },
                        "Vector Scope Gain Scroll Bar Select : RS232C error!");
}

void ScopeDialog::BarsMoved() {
    const int wfm = dialogs::BarPosition(this, kWfmBar);
    if (wfm != wfm_gain_) ApplyWfmGain(wfm);
    const int vector = dialogs::BarPosition(this, kVectorBar);
    if (vector != vector_gain_) ApplyVectorGain(vector);
    RefreshFields();
}

void ScopeDialog::RefreshFields() {
    dialogs::ShowNumber(this, kWfmField, wfm_gain_);
    dialogs::ShowNumber(this, kVectorField, vector_gain_);
}

void ScopeDialog::accept() {
    if (!dialogs::ReadNumber(this, kWfmField, kLow, kHigh, &wfm_gain_)) return;
    if (!dialogs::ReadNumber(this, kVectorField, kLow, kHigh, &vector_gain_)) return;
    LayoutDialog::accept();
}

void ScopeDialog::reject() {
    ApplyScopeMode(0);
    LayoutDialog::reject();
}

}  // namespace dpx
