#pragma once
// The input select dialog: input and SDI-LR polarity, each sent at once through the link it is given; a
// failed send shows its message and puts the value and its radio back. EXIT, Escape and
// the close box only close.
#include <cstdint>

#include "link/RS232c_bios.h"
#include "model/SettingTable.h"
#include "ui/LayoutDialog.h"

namespace dpx {

// The settings the input select dialog shows and changes: those of its group in the settings table, in
// table order, named after their keys.
struct InputSelectValues {
    static constexpr Group kGroup = Group::kInputSelect;
    int32_t sys_input_select = 1;  // SDI-1(L)
    int32_t sys_input_porality = 0;
};

class InputSelectDialog : public ui::LayoutDialog {
    Q_OBJECT
public:
    // Sends through `link`, which must outlive the dialog.
    explicit InputSelectDialog(RS232c_bios& link, QWidget* parent = nullptr);
    void SetValues(const InputSelectValues& values);
    InputSelectValues GetValues() const;

protected:
    // Sends the input, then the polarity.
    void InitDialog() override;

private:
    void ApplyInput(int32_t v);
    void ApplyPolarity(int32_t v);

    RS232c_bios& link_;
    InputSelectValues values_;
};

}  // namespace dpx
