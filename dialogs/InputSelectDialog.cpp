#include "dialogs/InputSelectDialog.h"

#include "dialogs/DialogControls.h"
#include "resources/InputSelectIds.h"
#include "resources/Layout.h"

namespace dpx {
namespace {

using namespace res::input_select;
using dialogs::ChoiceGroup;

// Laid out SDI-1(L), SDI-2(R), HDMI, SDI-LR; the box's code 0 is SDI-LR.
const ChoiceGroup kInput{{{kSdi1, 1}, {kSdi2, 2}, {kHdmi, 3}, {kSdiLr, 0}}, kSdi1, 1};
const ChoiceGroup kPolarity{{{kNormal, 0}, {kInvert, 1}}, kNormal, 0};

}  // namespace

InputSelectDialog::InputSelectDialog(RS232c_bios& link, QWidget* parent)
    : ControlDialog(res::kLayoutInputSelect, link,
      {{&InputSelectValues::sys_input_select, &kInput}, {&InputSelectValues::sys_input_porality, &kPolarity}},
      parent) {
    for (int id : kInput.Ids())
        dialogs::OnClicked(this, id, [this, id] { ApplyInput(kInput.CodeOf(id)); });
    for (int id : kPolarity.Ids())
        dialogs::OnClicked(this, id, [this, id] { ApplyPolarity(kPolarity.CodeOf(id)); });
}

void InputSelectDialog::InitDialog() {
    ApplyInput(values_.sys_input_select);
    ApplyPolarity(values_.sys_input_porality);
}

void InputSelectDialog::ApplyInput(int32_t v) {
    dialogs::ApplyChoice(this, kInput, &values_.sys_input_select, v, [this](int32_t x) { return link_.SetInputSelect(x); },
                         "InputSelect : RS232C error!");
}

void InputSelectDialog::ApplyPolarity(int32_t v) {
    dialogs::ApplyChoice(this, kPolarity, &values_.sys_input_porality, v,
                         [this](int32_t x) { return link_.SetInputPorality(x); },
                         "Input Porality : RS232C error!");
}

}  // namespace dpx
