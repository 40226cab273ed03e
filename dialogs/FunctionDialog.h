#pragma once
// The function dialog: rotate, frame synchronizer, beep, back light, the box's adjust memories.
// Every change is sent at once through the box's session it is given; a failed send shows
// its message and puts the value and its control back. The two memory buttons change only
// the link's mirror of the adjust values, which the panel takes after the dialog closed.
#include "dialogs/ControlDialog.h"

namespace dpx {

// The function group of the settings table, in table order.
struct FunctionValues {
    static constexpr Group kGroup = Group::kFunction;
    int32_t sys_rotate = 0;
    int32_t sys_f_sync = 0;
    int32_t sys_beep = 1;  // off
    int32_t sys_bk_light = 0;
};

class FunctionDialog : public dialogs::ControlDialog<FunctionValues> {
    Q_OBJECT
public:
    explicit FunctionDialog(Session& session, QWidget* parent = nullptr);

    // EXIT: takes the back light back from its field, which must hold -30..30; otherwise
    // the range prompt is shown and the dialog stays open. Escape and the close box reject
    // without reading the field.
    void accept() override;

protected:
    // Sends all four values (rotate, frame sync, beep, back light, in this order), then
    // shows the back light on its bar and field.
    void InitDialog() override;

private:
    void ApplyBackLight(int32_t v);
    void OnBackLightScroll(ui::ScrollRequest request, int thumb);
};

}  // namespace dpx
