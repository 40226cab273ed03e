#pragma once
// The SDI-LR adjust dialog: adjust mode and split position. Opening sends both; every
// change is sent at once and a failed send shows its message and puts the old value back.
#include <cstdint>

#include "link/RS232c_bios.h"
#include "model/SettingTable.h"
#include "ui/LayoutDialog.h"

namespace dpx {

// The settings the SDI-LR adjust dialog shows and changes: those of its group in the settings table, in
// table order, named after their keys.
struct AdjustSdiLrValues {
    static constexpr Group kGroup = Group::kAdjustSdiLr;
    int32_t sys_LRadj_mode = 0;
    int32_t sys_LRadj_split = 0;
};

class AdjustSdiLrDialog : public ui::LayoutDialog {
    Q_OBJECT
public:
    // Sends through `link`, which must outlive the dialog.
    explicit AdjustSdiLrDialog(RS232c_bios& link, QWidget* parent = nullptr);
    void SetValues(const AdjustSdiLrValues& values);
    AdjustSdiLrValues GetValues() const;

    // "EXIT with ADJUST": closes only when the field holds a value within -60..60.
    void accept() override;
    // "EXIT w/o ADJUST", Escape and the close box: switches the adjust off, then closes.
    void reject() override;

protected:
    void InitDialog() override;

private:
    void ApplyMode(int32_t code);
    void ApplySplit(int32_t p);
    void BarMoved();
    void RefreshField();

    RS232c_bios& link_;
    AdjustSdiLrValues values_;
};

}  // namespace dpx
