#pragma once
// The 2D-3D adjust dialog: adjust mode, parallax, intensity, sub intensity, ten adjust slots.
// Opening sends the mode and, unless it is off, the three values; every change is sent at
// once and a failed send shows its message and puts the old value back.
#include "dialogs/ControlDialog.h"

namespace dpx {

// The 2D-3D adjust group of the settings table, in table order.
struct Adjust2D3DValues {
    static constexpr Group kGroup = Group::kAdjust2D3D;
    int32_t sys_adj3d_mode = 0;
    int32_t sys_adj3d_para = 0;
    int32_t sys_adj3d_inte = 0;
    int32_t sys_adj3d_subi = 0;
};

class Adjust2D3DDialog : public dialogs::ControlDialog<Adjust2D3DValues> {
    Q_OBJECT
public:
    explicit Adjust2D3DDialog(Session& session, QWidget* parent = nullptr);

    // "EXIT with ADJUST": closes only when every field holds a value within 0..60.
    void accept() override;
    // "EXIT w/o ADJUST", Escape and the close box: switches the adjust off, then closes.
    void reject() override;

protected:
    void InitDialog() override;

private:
    void ApplyValues();  // the three values, each sent only while the mode is not off
    void SaveAdjustSlot(int n);
    void LoadAdjustSlot(int n);
};

}  // namespace dpx
