#pragma once
// The scope dialog: waveform monitor and vector scope mode, signal, position, filter, gains.
// Opening sends all six values; every change is sent at once and a failed send shows its
// message and puts the old value back.
#include <cstdint>

#include "ui/LayoutDialog.h"

namespace dpx {

class ScopeDialog : public ui::LayoutDialog {
    Q_OBJECT
public:
    explicit ScopeDialog(QWidget* parent = nullptr);
    void SetValues(int32_t mode, int32_t signal, int32_t position, int32_t filter, int32_t wfm_gain, int32_t vector_gain);
    void GetValues(int32_t* mode, int32_t* signal, int32_t* position, int32_t* filter, int32_t* wfm_gain, int32_t* vector_gain) const;

    // "EXIT with SCOPE": closes only when both fields hold a gain within -30..30.
    void accept() override;
    // "EXIT w/o SCOPE", Escape and the close box: switches the scope off, then closes.
    void reject() override;

protected:
    void InitDialog() override;

private:
    void ApplyScopeMode(int32_t v);
    void ApplyScopeSignal(int32_t v);
    void ApplyScopePosition(int32_t v);
    void ApplyScopeFilter(int32_t v);
    void ApplyWfmGain(int32_t g);
    void ApplyVectorGain(int32_t g);
    void BarsMoved();
    void RefreshFields();

    int32_t mode_ = 0;
    int32_t signal_ = 0;
    int32_t position_ = 0;
    int32_t filter_ = 0;
    int32_t wfm_gain_ = 0;
    int32_t vector_gain_ = 0;
};

}  // namespace dpx
