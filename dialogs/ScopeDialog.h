#pragma once
// The scope dialog: waveform monitor and vector scope mode, signal, position, filter, gains.
// Opening sends all six values; every change is sent at once and a failed send shows its
// message and puts the old value back.
#include "dialogs/ControlDialog.h"

namespace dpx {

// The scope group of the settings table, in table order.
struct ScopeValues {
    static constexpr Group kGroup = Group::kScope;
    int32_t sys_scp_mode = 0;
    int32_t sys_scp_src = 0;
    int32_t sys_scp_pos = 0;
    int32_t sys_scp_fil = 0;
    int32_t sys_scp_wgain = 0;
    int32_t sys_scp_vgain = 0;
};

class ScopeDialog : public dialogs::ControlDialog<ScopeValues> {
    Q_OBJECT
public:
    explicit ScopeDialog(Session& session, QWidget* parent = nullptr);

    // "EXIT with SCOPE": closes only when both fields hold a gain within -30..30.
    void accept() override;
    // "EXIT w/o SCOPE", Escape and the close box: switches the scope off, then closes.
    void reject() override;

protected:
    void InitDialog() override;
};

}  // namespace dpx
