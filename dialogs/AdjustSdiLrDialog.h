#pragma once
// The SDI-LR adjust dialog: adjust mode and split position. Opening sends both; every
// change is sent at once and a failed send shows its message and puts the old value back.
#include <cstdint>

#include "ui/LayoutDialog.h"

namespace dpx {

class AdjustSdiLrDialog : public ui::LayoutDialog {
    Q_OBJECT
public:
    explicit AdjustSdiLrDialog(QWidget* parent = nullptr);
    void SetValues(int32_t mode, int32_t split);
    void GetValues(int32_t* mode, int32_t* split) const;

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

    int32_t mode_ = 0;
    int32_t split_ = 0;
};

}  // namespace dpx
