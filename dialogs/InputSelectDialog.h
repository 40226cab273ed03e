#pragma once
// The input select dialog: input and SDI-LR polarity.
#include <cstdint>

#include "ui/LayoutDialog.h"

namespace dpx {

class InputSelectDialog : public ui::LayoutDialog {
    Q_OBJECT
public:
    explicit InputSelectDialog(QWidget* parent = nullptr);
    void SetValues(int32_t input, int32_t polarity);
    void GetValues(int32_t* input, int32_t* polarity) const;

protected:
    void InitDialog() override;
};

}  // namespace dpx
