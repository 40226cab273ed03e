#pragma once
// The input select dialog: input and SDI-LR polarity, each sent at once through Link(); a
// failed send shows its message and puts the value and its radio back. EXIT, Escape and
// the close box only close.
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
    // Sends the input, then the polarity.
    void InitDialog() override;

private:
    void ApplyInput(int32_t v);
    void ApplyPolarity(int32_t v);

    int32_t input_ = 1;
    int32_t polarity_ = 0;
};

}  // namespace dpx
