#pragma once
// The 2D-3D adjust dialog: adjust mode, parallax, intensity, sub intensity, ten adjust slots.
// Opening sends the mode and, unless it is off, the three values; every change is sent at
// once and a failed send shows its message and puts the old value back.
#include <cstdint>

#include "link/RS232c_bios.h"
#include "model/SettingTable.h"
#include "ui/LayoutDialog.h"

namespace dpx {

// The settings the 2D-3D adjust dialog shows and changes: those of its group in the settings table, in
// table order, named after their keys.
struct Adjust2D3DValues {
    static constexpr Group kGroup = Group::kAdjust2D3D;
    int32_t sys_adj3d_mode = 0;
    int32_t sys_adj3d_para = 0;
    int32_t sys_adj3d_inte = 0;
    int32_t sys_adj3d_subi = 0;
};

class Adjust2D3DDialog : public ui::LayoutDialog {
    Q_OBJECT
public:
    // Sends through `link`, which must outlive the dialog.
    explicit Adjust2D3DDialog(RS232c_bios& link, QWidget* parent = nullptr);
    void SetValues(const Adjust2D3DValues& values);
    Adjust2D3DValues GetValues() const;

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

    RS232c_bios& link_;
    Adjust2D3DValues values_;
};

}  // namespace dpx
