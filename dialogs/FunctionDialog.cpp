#include "dialogs/FunctionDialog.h"

#include <QScrollBar>

#include "common/MessageSink.h"
#include "resources/FunctionIds.h"
#include "resources/Layout.h"

namespace dpx {
namespace {

using namespace res::function;
using dialogs::ChoiceGroup;
using V = FunctionValues;

// The four mirror radios (codes 3 to 6) stay hidden, but a stored mirror code still
// selects its radio, so then no visible rotate radio is selected.
const ChoiceGroup kRotate{{{kRotateOff, 0}, {kRotateSdi1, 1}, {kRotateSdi2, 2}, {kHMirrorSdi1, 3},
                           {kHMirrorSdi2, 4}, {kVMirrorSdi1, 5}, {kVMirrorSdi2, 6}},
                          kRotateOff, 0};
const ChoiceGroup kFrameSync{{{kFrameSyncOff, 0}, {kFrameSyncOn, 1}}, kFrameSyncOff, 0};
const ChoiceGroup kBeep{{{kBeepOff, 1}, {kBeepOn, 0}}, kBeepOff, 1};  // the box's beep code 0 is on

struct MemoryButton {
    int id;
    int32_t memory;  // 0 memory 1, 1 memory 2
    bool save;
    const char* failure_message;
};
constexpr MemoryButton kMemoryButtons[] = {
    {kMemory1Save, 0, true, "Function Memory 1 SAVE : RS232C error!"},
    {kMemory1Load, 0, false, "Function Memory 1 LOAD : RS232C error!"},
    {kMemory2Save, 1, true, "Function Memory 2 SAVE : RS232C error!"},
    {kMemory2Load, 1, false, "Function Memory 2 LOAD : RS232C error!"},
};

}  // namespace

FunctionDialog::FunctionDialog(Session& session, QWidget* parent)
    : ControlDialog(res::kLayoutFunction, session,
                    {{&V::sys_rotate, &kRotate, 0, 0, "Function Rotate Select : RS232C error!"},
                     {&V::sys_f_sync, &kFrameSync, 0, 0, "Function Frame Synchronizer Select : RS232C error!"},
                     {&V::sys_beep, &kBeep, 0, 0, "Function Beep Select : RS232C error!"},
                     {&V::sys_bk_light, nullptr, kBackLightBar, kBackLightField}},
                    parent) {
    // Only the visible radios can be clicked; the mirror radios are never shown.
    FollowRadios({kHMirrorSdi1, kHMirrorSdi2, kVMirrorSdi1, kVMirrorSdi2});
    for (const MemoryButton& b : kMemoryButtons) {
        const char* message = b.failure_message;
        dialogs::OnClicked(this, b.id, [this, b, message] {
            if (!session_.AdjustMemory(b.memory + 1, b.save, Source::kPanel).ok) ShowMessage(message);
        });
    }
    ui::OnScrollRequest(ui::Control<QScrollBar>(this, kBackLightBar),
                        [this](ui::ScrollRequest request, int thumb) { OnBackLightScroll(request, thumb); });
}

void FunctionDialog::InitDialog() {
    Resend(&V::sys_rotate);
    Resend(&V::sys_f_sync);
    Resend(&V::sys_beep);
    ApplyBackLight(values_.sys_bk_light);
    ShowBars();
    ShowFields();
}

void FunctionDialog::accept() {
    if (ReadFields()) ControlDialog::accept();
}

void FunctionDialog::ApplyBackLight(int32_t v) {
    const int32_t old = values_.sys_bk_light;
    values_.sys_bk_light = v;
    if (!dialogs::SettingFor(&V::sys_bk_light).Valid(v)) {  // refused silently
        values_.sys_bk_light = old;
        return;
    }
    // A debug report of another control's transaction may be open in a nested loop: the
    // link cannot take a second transaction then.
    if (session_.Link().IsBusy()) {
        ShowMessage("Function Back Light Select : RS232C busy!");
        values_.sys_bk_light = old;
        return;
    }
    if (!session_.Change({{&dialogs::SettingFor(&V::sys_bk_light), v}}, Source::kPanel).ok) {
        ShowMessage("Function Back Light Select : RS232C error!");
        values_.sys_bk_light = old;
    }
}

void FunctionDialog::OnBackLightScroll(ui::ScrollRequest request, int thumb) {
    auto* bar = ui::Control<QScrollBar>(this, kBackLightBar);
    const std::optional<int> target = dialogs::ScrollTarget(request, bar->value(), thumb);
    if (!target) return;
    // No clamping: a step or page past either end is refused by ApplyBackLight.
    ApplyBackLight(*target);
    bar->setValue(values_.sys_bk_light);  // a refused, busy or failed change puts the bar back
    ShowFields();
}

}  // namespace dpx
