#include "dialogs/OutputPresetDialog.h"

#include "common/MessageSink.h"
#include "dialogs/DialogControls.h"
#include "resources/Layout.h"
#include "resources/OutputPresetIds.h"
#include "session/BoxRules.h"

namespace dpx {
namespace {

using namespace res::output_preset;
using dialogs::ChoiceGroup;

const ChoiceGroup kSdi{{{kSdiMix, 0}, {kSdiIndividual, 1}}, kSdiMix, 0};
const ChoiceGroup kHdmi{{{kHdmiMix, 0}, {kHdmiIndividual, 1}}, kHdmiMix, 0};
const ChoiceGroup kFormat{{{kLineByLine, 0}, {kSideBySide, 1}, {kAboveBelow, 2}, {kCheckerBoard, 3}},
                          kLineByLine, 0};

using rules::kFormatForbidsIndividual;
using rules::kIndividualForbidsFormat;

}  // namespace

OutputPresetDialog::OutputPresetDialog(RS232c_bios& link, QWidget* parent)
    : ControlDialog(res::kLayoutOutputPreset, link,
      {{&OutputPresetValues::sys_sdi_mix, &kSdi}, {&OutputPresetValues::sys_hdmi_mix, &kHdmi},
       {&OutputPresetValues::sys_3dfmt, &kFormat}},
      parent) {
    dialogs::OnClicked(this, kSdiMix, [this] { ApplySdiOutput(0); });
    dialogs::OnClicked(this, kSdiIndividual,
                       [this] {
                           OnIndividual(kSdiIndividual, &values_.sys_sdi_mix, &OutputPresetDialog::ApplySdiOutput);
                       });
    dialogs::OnClicked(this, kHdmiMix, [this] { ApplyHdmiOutput(0); });
    dialogs::OnClicked(this, kHdmiIndividual,
                       [this] {
                           OnIndividual(kHdmiIndividual, &values_.sys_hdmi_mix, &OutputPresetDialog::ApplyHdmiOutput);
                       });
    for (int id : kFormat.Ids()) {
        if (id == kAboveBelow)
            dialogs::OnClicked(this, id, [this] { OnAboveBelow(); });
        else
            dialogs::OnClicked(this, id, [this, id] { Apply3dFormat(kFormat.CodeOf(id)); });
    }
}

void OutputPresetDialog::InitDialog() {
    ApplySdiOutput(values_.sys_sdi_mix);
    ApplyHdmiOutput(values_.sys_hdmi_mix);
    Apply3dFormat(values_.sys_3dfmt);
}

void OutputPresetDialog::ApplySdiOutput(int32_t v) {
    dialogs::ApplyChoice(this, kSdi, &values_.sys_sdi_mix, v, [this](int32_t x) { return link_.SetSdiOutput(x); },
                         "SDI Output Select : RS232C error!");
}

void OutputPresetDialog::ApplyHdmiOutput(int32_t v) {
    dialogs::ApplyChoice(this, kHdmi, &values_.sys_hdmi_mix, v, [this](int32_t x) { return link_.SetHdmiOutput(x); },
                         "HDMI Output Select : RS232C error!");
}

void OutputPresetDialog::Apply3dFormat(int32_t v) {
    dialogs::ApplyChoice(this, kFormat, &values_.sys_3dfmt, v, [this](int32_t x) { return link_.Set3dFormat(x); },
                         "Output 3D Format Select : RS232C error!");
}

// The exclusion tests read the radios on the screen, where the clicked radio is already
// selected. A refused click sends nothing and shows the value in force again.
void OutputPresetDialog::OnIndividual(int radio, int32_t* value, void (OutputPresetDialog::*apply)(int32_t)) {
    if (ui::IsRadioSelected(this, kAboveBelow)) {
        ShowMessage(kFormatForbidsIndividual);
        ui::DeselectRadio(this, radio);
        ui::SelectRadio(this, (radio == kSdiIndividual ? kSdi : kHdmi).RadioOf(*value));
        return;
    }
    (this->*apply)(1);
}

void OutputPresetDialog::OnAboveBelow() {
    if (ui::IsRadioSelected(this, kSdiIndividual) || ui::IsRadioSelected(this, kHdmiIndividual)) {
        ShowMessage(kIndividualForbidsFormat);
        ui::DeselectRadio(this, kAboveBelow);
        // The format radio chosen last is the radio of the format in force whenever its send
        // went through; when none was chosen or its send failed, the format in force is
        // still what the box has, so its radio is the one to show.
        ui::SelectRadio(this, kFormat.RadioOf(values_.sys_3dfmt));
        return;
    }
    // Both outputs are sent as MIX again; each send stands alone, a failure does not stop
    // the next.
    ApplySdiOutput(0);
    ApplyHdmiOutput(0);
    Apply3dFormat(2);
}

}  // namespace dpx
