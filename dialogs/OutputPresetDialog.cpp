#include "dialogs/OutputPresetDialog.h"

#include "common/MessageSink.h"
#include "resources/OutputPresetIds.h"
#include "session/BoxRules.h"

namespace dpx {
namespace {

using namespace res::output_preset;
using dialogs::ChoiceGroup;
using V = OutputPresetValues;

const ChoiceGroup kSdi{{{kSdiMix, 0}, {kSdiIndividual, 1}}, kSdiMix, 0};
const ChoiceGroup kHdmi{{{kHdmiMix, 0}, {kHdmiIndividual, 1}}, kHdmiMix, 0};
const ChoiceGroup kFormat{{{kLineByLine, 0}, {kSideBySide, 1}, {kAboveBelow, 2}, {kCheckerBoard, 3}},
                          kLineByLine, 0};

}  // namespace

OutputPresetDialog::OutputPresetDialog(Session& session, QWidget* parent)
    : ControlDialog(res::kLayoutOutputPreset, session,
                    {{&V::sys_sdi_mix, &kSdi, 0, 0, "SDI Output Select : RS232C error!"},
                     {&V::sys_hdmi_mix, &kHdmi, 0, 0, "HDMI Output Select : RS232C error!"},
                     {&V::sys_3dfmt, &kFormat, 0, 0, "Output 3D Format Select : RS232C error!"}},
                    parent) {
    FollowRadios({kSdiIndividual, kHdmiIndividual, kAboveBelow});
    dialogs::OnClicked(this, kSdiIndividual, [this] { OnIndividual(kSdiIndividual, &V::sys_sdi_mix); });
    dialogs::OnClicked(this, kHdmiIndividual, [this] { OnIndividual(kHdmiIndividual, &V::sys_hdmi_mix); });
    dialogs::OnClicked(this, kAboveBelow, [this] { OnAboveBelow(); });
}

void OutputPresetDialog::InitDialog() {
    Apply(&V::sys_sdi_mix, values_.sys_sdi_mix);
    Apply(&V::sys_hdmi_mix, values_.sys_hdmi_mix);
    Apply(&V::sys_3dfmt, values_.sys_3dfmt);
}

// The exclusion tests read the radios on the screen, where the clicked radio is already
// selected. A refused click sends nothing and shows the value in force again.
void OutputPresetDialog::OnIndividual(int radio, int32_t V::*output) {
    if (ui::IsRadioSelected(this, kAboveBelow)) {
        ShowMessage(rules::kFormatForbidsIndividual);
        ui::DeselectRadio(this, radio);
        ui::SelectRadio(this, (radio == kSdiIndividual ? kSdi : kHdmi).RadioOf(values_.*output));
        return;
    }
    Apply(output, 1);
}

void OutputPresetDialog::OnAboveBelow() {
    if (ui::IsRadioSelected(this, kSdiIndividual) || ui::IsRadioSelected(this, kHdmiIndividual)) {
        ShowMessage(rules::kIndividualForbidsFormat);
        ui::DeselectRadio(this, kAboveBelow);
        // The format radio chosen last is the radio of the format in force whenever its send
        // went through; when none was chosen or its send failed, the format in force is
        // still what the box has, so its radio is the one to show.
        ui::SelectRadio(this, kFormat.RadioOf(values_.sys_3dfmt));
        return;
    }
    // Both outputs are sent as MIX again; each send stands alone, a failure does not stop
    // the next.
    Apply(&V::sys_sdi_mix, 0);
    Apply(&V::sys_hdmi_mix, 0);
    Apply(&V::sys_3dfmt, 2);
}

}  // namespace dpx
