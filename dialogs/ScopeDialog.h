#pragma once
// The scope dialog: waveform monitor and vector scope mode, signal, position, filter, gains.
#include <cstdint>

#include "ui/LayoutDialog.h"

namespace dpx {

class ScopeDialog : public ui::LayoutDialog {
    Q_OBJECT
public:
    explicit ScopeDialog(QWidget* parent = nullptr);
    void SetValues(int32_t mode, int32_t signal, int32_t position, int32_t filter, int32_t wfm_gain, int32_t vector_gain);
    void GetValues(int32_t* mode, int32_t* signal, int32_t* position, int32_t* filter, int32_t* wfm_gain, int32_t* vector_gain) const;

protected:
    void InitDialog() override;
};

}  // namespace dpx
