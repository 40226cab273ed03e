#include "dialogs/Adjust2D3DDialog.h"

#include <utility>

#include "resources/Adjust2D3DIds.h"
#include "settings/AdjustFile.h"

namespace dpx {
namespace {

using namespace res::adjust2d3d;
using V = Adjust2D3DValues;
constexpr int kSlots = 10;

// The box knows three variants of each display mode; the radios send the first of each.
const dialogs::ChoiceGroup kModes{
    {{kOff, 0}, {kStandard, 4}, {kAnaglyph, 6}, {kLrSequential, 8},
     {kStandard, 5}, {kStandard, 10}, {kAnaglyph, 7}, {kAnaglyph, 11},
     {kLrSequential, 9}, {kLrSequential, 12}},
    kOff, 0};

constexpr int32_t V::*kValues[] = {&V::sys_adj3d_para, &V::sys_adj3d_inte, &V::sys_adj3d_subi};

}  // namespace

Adjust2D3DDialog::Adjust2D3DDialog(Session& session, QWidget* parent)
    : ControlDialog(res::kLayoutAdjust2D3D, session,
                    {{&V::sys_adj3d_mode, &kModes, 0, 0, "Adjust Mode Select : RS232C error!"},
                     {&V::sys_adj3d_para, nullptr, kParallaxBar, kParallaxField, "Parallax Scroll Bar Select : RS232C error!"},
                     {&V::sys_adj3d_inte, nullptr, kIntensityBar, kIntensityField,
                      "Intensity Scroll Bar Select : RS232C error!"},
                     {&V::sys_adj3d_subi, nullptr, kSubIntensityBar, kSubIntensityField,
                      "SUB INT. Scroll Bar Select : RS232C error!"}},
                    parent) {
    FollowRadios({kStandard, kAnaglyph, kLrSequential});
    for (int id : {kStandard, kAnaglyph, kLrSequential}) {
        dialogs::OnClicked(this, id, [this, id] {
            Apply(&V::sys_adj3d_mode, kModes.CodeOf(id));
            ApplyValues();  // under the mode now in force, which is the old one after a failure
            ShowFields();
        });
    }
    FollowBars();
    for (int n = 1; n <= kSlots; ++n) {
        dialogs::OnClicked(this, kSave1 + n - 1, [this, n] { SaveAdjustSlot(n); });
        dialogs::OnClicked(this, kLoad1 + n - 1, [this, n] { LoadAdjustSlot(n); });
    }
}

void Adjust2D3DDialog::InitDialog() {
    ShowBars();
    Resend(&V::sys_adj3d_mode);
    ApplyValues();
    ShowFields();
}

// The box's rules send the three values only while the mode is not off; then they are kept.
void Adjust2D3DDialog::ApplyValues() {
    for (int32_t V::*member : kValues) Apply(member, values_.*member);
}

void Adjust2D3DDialog::SaveAdjustSlot(int n) {
    WriteAdjustFile(AdjustFileName(n), values_.sys_adj3d_mode, values_.sys_adj3d_para, values_.sys_adj3d_inte,
                    values_.sys_adj3d_subi);
}

// The file's mode is not taken: the mode in force and its radio stay.
void Adjust2D3DDialog::LoadAdjustSlot(int n) {
    V loaded = values_;
    if (!ReadAdjustFile(AdjustFileName(n), &loaded.sys_adj3d_mode, &loaded.sys_adj3d_para, &loaded.sys_adj3d_inte,
                        &loaded.sys_adj3d_subi))
        return;
    loaded.sys_adj3d_mode = values_.sys_adj3d_mode;
    // The bars show the file's values; a failed send puts back only the value in force.
    const V in_force = std::exchange(values_, loaded);
    ShowBars();
    values_ = in_force;
    for (int32_t V::*member : kValues) Apply(member, loaded.*member);
    ShowFields();
}

void Adjust2D3DDialog::accept() {
    if (ReadFields()) ControlDialog::accept();
}

void Adjust2D3DDialog::reject() {
    Apply(&V::sys_adj3d_mode, 0);
    ControlDialog::reject();
}

}  // namespace dpx
