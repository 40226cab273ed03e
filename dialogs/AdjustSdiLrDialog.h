#pragma once
// The SDI-LR adjust dialog: adjust mode and split position.
#include <cstdint>

#include "ui/LayoutDialog.h"

namespace dpx {

class AdjustSdiLrDialog : public ui::LayoutDialog {
    Q_OBJECT
public:
    explicit AdjustSdiLrDialog(QWidget* parent = nullptr);
    void SetValues(int32_t mode, int32_t split);
    void GetValues(int32_t* mode, int32_t* split) const;

protected:
    void InitDialog() override;
};

}  // namespace dpx
