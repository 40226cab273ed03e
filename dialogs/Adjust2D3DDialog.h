#pragma once
// The 2D-3D adjust dialog: adjust mode, parallax, intensity, sub intensity, ten adjust slots.
#include <cstdint>

#include "ui/LayoutDialog.h"

namespace dpx {

class Adjust2D3DDialog : public ui::LayoutDialog {
    Q_OBJECT
public:
    explicit Adjust2D3DDialog(QWidget* parent = nullptr);
    void SetValues(int32_t mode, int32_t parallax, int32_t intensity, int32_t sub_intensity);
    void GetValues(int32_t* mode, int32_t* parallax, int32_t* intensity, int32_t* sub_intensity) const;

protected:
    void InitDialog() override;
};

}  // namespace dpx
