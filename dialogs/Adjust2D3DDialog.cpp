#include "dialogs/Adjust2D3DDialog.h"

#include "dialogs/DialogControls.h"
#include "resources/Adjust2D3DIds.h"
#include "settings/AdjustFile.h"

namespace dpx {
namespace {

using namespace res::adjust2d3d;
constexpr int kSlots = 10;
constexpr int kLow = kAdjustValueRange.low, kHigh = kAdjustValueRange.high;

// The box knows three variants of each display mode; the radios send the first of each.
const dialogs::ChoiceGroup kModes{
    {{kOff, 0}, {kStandard, 4}, {kAnaglyph, 6}, {kLrSequential, 8},
     {kStandard, 5}, {kStandard, 10}, {kAnaglyph, 7}, {kAnaglyph, 11},
     {kLrSequential, 9}, {kLrSequential, 12}},
    kOff, 0};

}  // namespace

Adjust2D3DDialog::Adjust2D3DDialog(RS232c_bios& link, QWidget* parent)
    : ControlDialog(res::kLayoutAdjust2D3D, link,
      {{&Adjust2D3DValues::sys_adj3d_mode, &kModes},
       {&Adjust2D3DValues::sys_adj3d_para, nullptr, kParallaxBar, kParallaxField, kAdjustValueRange},
       {&Adjust2D3DValues::sys_adj3d_inte, nullptr, kIntensityBar, kIntensityField, kAdjustValueRange},
       {&Adjust2D3DValues::sys_adj3d_subi, nullptr, kSubIntensityBar, kSubIntensityField, kAdjustValueRange}},
      parent) {
    dialogs::OnClicked(this, kOff, [this] { ApplyMode(0); });
    for (int id : {kStandard, kAnaglyph, kLrSequential}) {
        dialogs::OnClicked(this, id, [this, id] {
            ApplyMode(kModes.CodeOf(id));
            ApplyValues();  // under the mode now in force, which is the old one after a failure
            RefreshFields();
        });
    }
    for (int bar : {kParallaxBar, kIntensityBar, kSubIntensityBar})
        dialogs::OnBarMoved(this, bar, kLow, kHigh, [this] { BarsMoved(); });
    for (int n = 1; n <= kSlots; ++n) {
        dialogs::OnClicked(this, kSave1 + n - 1, [this, n] { SaveAdjustSlot(n); });
        dialogs::OnClicked(this, kLoad1 + n - 1, [this, n] { LoadAdjustSlot(n); });
    }
}

void Adjust2D3DDialog::InitDialog() {
    dialogs::SetUpBar(this, kParallaxBar, kLow, kHigh, values_.sys_adj3d_para);
    dialogs::SetUpBar(this, kIntensityBar, kLow, kHigh, values_.sys_adj3d_inte);
    dialogs::SetUpBar(this, kSubIntensityBar, kLow, kHigh, values_.sys_adj3d_subi);
    ApplyMode(values_.sys_adj3d_mode);
    ApplyValues();
    RefreshFields();
}

void Adjust2D3DDialog::ApplyMode(int32_t code) {
    dialogs::ApplyChoice(this, kModes, &values_.sys_adj3d_mode, code,
                         [this](int32_t v) { return link_.SetAdjustMode(v); },
                         "Adjust Mode Select : RS232C error!");
    RefreshFields();
}

void Adjust2D3DDialog::ApplyParallax(int32_t v) {
    if (values_.sys_adj3d_mode == 0) {
        values_.sys_adj3d_para = v;
        return;
    }
    dialogs::ApplyValue(&values_.sys_adj3d_para, v, [this](int32_t x) { return link_.SetParallax(x); },
                        "Parallax Scroll Bar Select : RS232C error!");
}

void Adjust2D3DDialog::ApplyIntensity(int32_t v) {
    if (values_.sys_adj3d_mode == 0) {
        values_.sys_adj3d_inte = v;
        return;
    }
    dialogs::ApplyValue(&values_.sys_adj3d_inte, v, [this](int32_t x) { return link_.SetIntensity(x); },
                        "Intensity Scroll Bar Select : RS232C error!");
}

void Adjust2D3DDialog::ApplySubIntensity(int32_t v) {
    if (values_.sys_adj3d_mode == 0) {
        values_.sys_adj3d_subi = v;
        return;
    }
    dialogs::ApplyValue(&values_.sys_adj3d_subi, v, [this](int32_t x) { return link_.SetSubIntensity(x); },
                        "SUB INT. Scroll Bar Select : RS232C error!");
}

void Adjust2D3DDialog::ApplyValues() {
    ApplyParallax(values_.sys_adj3d_para);
    ApplyIntensity(values_.sys_adj3d_inte);
    ApplySubIntensity(values_.sys_adj3d_subi);
}

// Every bar that differs from its value is sent, so a bar left standing after a failed
// send is tried again at the next request on any of the three.
void Adjust2D3DDialog::BarsMoved() {
    const int parallax = dialogs::BarPosition(this, kParallaxBar);
    if (parallax != values_.sys_adj3d_para) ApplyParallax(parallax);
    const int intensity = dialogs::BarPosition(this, kIntensityBar);
    if (intensity != values_.sys_adj3d_inte) ApplyIntensity(intensity);
    const int sub_intensity = dialogs::BarPosition(this, kSubIntensityBar);
    if (sub_intensity != values_.sys_adj3d_subi) ApplySubIntensity(sub_intensity);
    RefreshFields();
}

void Adjust2D3DDialog::SaveAdjustSlot(int n) {
    WriteAdjustFile(AdjustFileName(n), values_.sys_adj3d_mode, values_.sys_adj3d_para, values_.sys_adj3d_inte,
                    values_.sys_adj3d_subi);
}

// The file's mode is not taken: the mode in force and its radio stay.
void Adjust2D3DDialog::LoadAdjustSlot(int n) {
    int32_t mode = 0, parallax = 0, intensity = 0, sub_intensity = 0;
    if (!ReadAdjustFile(AdjustFileName(n), &mode, &parallax, &intensity, &sub_intensity)) return;
    dialogs::SetUpBar(this, kParallaxBar, kLow, kHigh, parallax);
    dialogs::SetUpBar(this, kIntensityBar, kLow, kHigh, intensity);
    dialogs::SetUpBar(this, kSubIntensityBar, kLow, kHigh, sub_intensity);
    ApplyParallax(parallax);
    ApplyIntensity(intensity);
    ApplySubIntensity(sub_intensity);
    RefreshFields();
}

void Adjust2D3DDialog::RefreshFields() {
    dialogs::ShowNumber(this, kParallaxField, values_.sys_adj3d_para);
    dialogs::ShowNumber(this, kIntensityField, values_.sys_adj3d_inte);
    dialogs::ShowNumber(this, kSubIntensityField, values_.sys_adj3d_subi);
}

void Adjust2D3DDialog::accept() {
    if (!dialogs::ReadNumber(this, kParallaxField, kLow, kHigh, &values_.sys_adj3d_para)) return;
    if (!dialogs::ReadNumber(this, kIntensityField, kLow, kHigh, &values_.sys_adj3d_inte)) return;
    if (!dialogs::ReadNumber(this, kSubIntensityField, kLow, kHigh, &values_.sys_adj3d_subi)) return;
    ControlDialog::accept();
}

void Adjust2D3DDialog::reject() {
    ApplyMode(0);
    ControlDialog::reject();
}

}  // namespace dpx
