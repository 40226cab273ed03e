#pragma once
// The output preset dialog: SDI and HDMI output and the 3D mix format, each sent at once
// through Link(). "ABOVE-BELOW" needs both outputs on MIX, and an output can go INDIVIDUAL
// only while the format is not "ABOVE-BELOW": a click that breaks this is refused with a
// message and sends nothing. EXIT, Escape and the close box only close.
#include <cstdint>

#include "ui/LayoutDialog.h"

namespace dpx {

class OutputPresetDialog : public ui::LayoutDialog {
    Q_OBJECT
public:
    explicit OutputPresetDialog(QWidget* parent = nullptr);
    void SetValues(int32_t sdi, int32_t hdmi, int32_t format);
    void GetValues(int32_t* sdi, int32_t* hdmi, int32_t* format) const;

protected:
    // Sends SDI output, HDMI output and format as they are, without the exclusion test.
    void InitDialog() override;

private:
    void ApplySdiOutput(int32_t v);
    void ApplyHdmiOutput(int32_t v);
    void Apply3dFormat(int32_t v);
    void OnIndividual(int radio, int32_t* value, void (OutputPresetDialog::*apply)(int32_t));
    void OnAboveBelow();

    int32_t sdi_ = 0;
    int32_t hdmi_ = 0;
    int32_t format_ = 0;
};

}  // namespace dpx
