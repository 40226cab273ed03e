#pragma once
// The 2D-3D adjust dialog: adjust mode, parallax, intensity, sub intensity, ten adjust slots.
// Opening sends the mode and, unless it is off, the three values; every change is sent at
// once and a failed send shows its message and puts the old value back.
#include <cstdint>

#include "ui/LayoutDialog.h"

namespace dpx {

class Adjust2D3DDialog : public ui::LayoutDialog {
    Q_OBJECT
public:
    explicit Adjust2D3DDialog(QWidget* parent = nullptr);
    void SetValues(int32_t mode, int32_t parallax, int32_t intensity, int32_t sub_intensity);
    void GetValues(int32_t* mode, int32_t* parallax, int32_t* intensity, int32_t* sub_intensity) const;

    // "EXIT with ADJUST": closes only when every field holds a value within 0..60.
    void accept() override;
    // "EXIT w/o ADJUST", Escape and the close box: switches the adjust off, then closes.
    void reject() override;

protected:
    void InitDialog() override;

private:
    void ApplyMode(int32_t code);
    void ApplyParallax(int32_t v);
    void ApplyIntensity(int32_t v);
    void ApplySubIntensity(int32_t v);
    void ApplyValues();  // the three values, each sent only while the mode is not off
    void SaveAdjustSlot(int n);
    void LoadAdjustSlot(int n);
    void BarsMoved();
    void RefreshFields();

    int32_t mode_ = 0;
    int32_t parallax_ = 0;
    int32_t intensity_ = 0;
    int32_t sub_intensity_ = 0;
};

}  // namespace dpx
