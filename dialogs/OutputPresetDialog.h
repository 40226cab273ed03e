#pragma once
// The output preset dialog: SDI and HDMI output and the 3D mix format.
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
    void InitDialog() override;
};

}  // namespace dpx
