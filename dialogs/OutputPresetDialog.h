#pragma once
// The output preset dialog: SDI and HDMI output and the 3D mix format, each sent at once
// through the box's session it is given, by the box's rules: "ABOVE-BELOW" sends both outputs
// as MIX first, and a click on ABOVE-BELOW with an INDIVIDUAL output, or on INDIVIDUAL under
// ABOVE-BELOW, is refused with the rule's message and sends nothing. EXIT, Escape and the
// close box only close.
#include "dialogs/ControlDialog.h"

namespace dpx {

// The output preset group of the settings table, in table order.
struct OutputPresetValues {
    static constexpr Group kGroup = Group::kOutputPreset;
    int32_t sys_sdi_mix = 0;
    int32_t sys_hdmi_mix = 0;
    int32_t sys_3dfmt = 0;
};

class OutputPresetDialog : public dialogs::ControlDialog<OutputPresetValues> {
    Q_OBJECT
public:
    explicit OutputPresetDialog(Session& session, QWidget* parent = nullptr);

protected:
    // Sends SDI output, HDMI output and format as they are, without the exclusion test.
    void InitDialog() override;
};

}  // namespace dpx
