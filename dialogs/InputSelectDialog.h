#pragma once
// The input select dialog: input and SDI-LR polarity, each sent at once through the box's session it is given; a
// failed send shows its message and puts the value and its radio back. EXIT, Escape and
// the close box only close.
#include "dialogs/ControlDialog.h"

namespace dpx {

// The input select group of the settings table, in table order.
struct InputSelectValues {
    static constexpr Group kGroup = Group::kInputSelect;
    int32_t sys_input_select = 1;  // SDI-1(L)
    int32_t sys_input_porality = 0;
};

class InputSelectDialog : public dialogs::ControlDialog<InputSelectValues> {
    Q_OBJECT
public:
    explicit InputSelectDialog(Session& session, QWidget* parent = nullptr);

protected:
    // Sends the input, then the polarity.
    void InitDialog() override;
};

}  // namespace dpx
