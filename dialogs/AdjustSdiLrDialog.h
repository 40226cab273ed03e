#pragma once
// The SDI-LR adjust dialog: adjust mode and split position. Opening sends both; every
// change is sent at once and a failed send shows its message and puts the old value back.
#include "dialogs/ControlDialog.h"

namespace dpx {

// The SDI-LR adjust group of the settings table, in table order.
struct AdjustSdiLrValues {
    static constexpr Group kGroup = Group::kAdjustSdiLr;
    int32_t sys_LRadj_mode = 0;
    int32_t sys_LRadj_split = 0;
};

class AdjustSdiLrDialog : public dialogs::ControlDialog<AdjustSdiLrValues> {
    Q_OBJECT
public:
    explicit AdjustSdiLrDialog(Session& session, QWidget* parent = nullptr);

    // "EXIT with ADJUST": closes only when the field holds a value within -60..60.
    void accept() override;
    // "EXIT w/o ADJUST", Escape and the close box: switches the adjust off, then closes.
    void reject() override;

protected:
    void InitDialog() override;
};

}  // namespace dpx
