#include "dialogs/InputSelectDialog.h"

#include "resources/InputSelectIds.h"

namespace dpx {
namespace {

using namespace res::input_select;
using V = InputSelectValues;

// Laid out SDI-1(L), SDI-2(R), HDMI, SDI-LR; the box's code 0 is SDI-LR.
const dialogs::ChoiceGroup kInput{{{kSdi1, 1}, {kSdi2, 2}, {kHdmi, 3}, {kSdiLr, 0}}, kSdi1, 1};
const dialogs::ChoiceGroup kPolarity{{{kNormal, 0}, {kInvert, 1}}, kNormal, 0};

}  // namespace

InputSelectDialog::InputSelectDialog(Session& session, QWidget* parent)
    : ControlDialog(res::kLayoutInputSelect, session,
                    {{&V::sys_input_select, &kInput, 0, 0, "InputSelect : RS232C error!"},
                     {&V::sys_input_porality, &kPolarity, 0, 0, "Input Porality : RS232C error!"}},
                    parent) {
    FollowRadios();
}

void InputSelectDialog::InitDialog() {
    Resend(&V::sys_input_select);
    Resend(&V::sys_input_porality);
}

}  // namespace dpx
