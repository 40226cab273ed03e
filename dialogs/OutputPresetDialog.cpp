#include "dialogs/OutputPresetDialog.h"

#include "resources/OutputPresetIds.h"

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
    FollowRadios();
}

void OutputPresetDialog::InitDialog() {
    Resend(&V::sys_sdi_mix);
    Resend(&V::sys_hdmi_mix);
    Resend(&V::sys_3dfmt);
}

}  // namespace dpx
