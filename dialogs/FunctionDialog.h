#pragma once
// The function dialog: rotate, frame synchronizer, beep, back light, the box's adjust memories.
#include <cstdint>

#include "ui/LayoutDialog.h"

namespace dpx {

class FunctionDialog : public ui::LayoutDialog {
    Q_OBJECT
public:
    explicit FunctionDialog(QWidget* parent = nullptr);
    void SetValues(int32_t rotate, int32_t frame_sync, int32_t beep, int32_t back_light);
    void GetValues(int32_t* rotate, int32_t* frame_sync, int32_t* beep, int32_t* back_light) const;

protected:
    void InitDialog() override;
};

}  // namespace dpx
