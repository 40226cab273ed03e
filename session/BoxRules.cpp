#include "session/BoxRules.h"

namespace dpx::rules {
namespace {

using R = SettingsRecord;

const Setting& S(int32_t R::*field) { return SettingOf(field); }

// Adjust goes off on the box before a change that it cannot outlive; the record follows.
void TurnOffAdjust(const SettingsRecord& r, Plan& plan) {
    if (r.sys_adj3d_mode == 0 && r.sys_LRadj_mode == 0) return;
    plan.sends.push_back({&S(&R::sys_adj3d_mode), 0, kTurnOffAdjustFailed});
    plan.keeps.push_back({&S(&R::sys_LRadj_mode), 0});
}

bool InGroup(const Setting& s, Group g) { return s.group == g; }

}  // namespace

bool IsSdiLr(const SettingsRecord& r) { return r.sys_input_select == kInputSdiLr; }

Plan PlanChange(const SettingsRecord& r, const Setting& setting, int32_t value) {
    Plan plan;
    const auto field = setting.field;
    const auto send_it = [&] { plan.sends.push_back({&setting, value}); };

    if (field == &R::sys_2D3D) {
        if (value != 0 && IsSdiLr(r)) {
            plan.refusal = kSdiLrForbidsConversion;
            return plan;
        }
        // Adjust mode cannot outlive the conversion: it goes off on the box first.
        if (value == 0 && r.sys_adj3d_mode != 0) plan.sends.push_back({&S(&R::sys_adj3d_mode), 0, kTurnOffAdjustFailed});
        send_it();
        return plan;
    }
    if (field == &R::sys_input_select) {
        TurnOffAdjust(r, plan);
        send_it();
        // A change of input ends the scope view on the box by itself; SDI-LR has no 2D-3D.
        plan.keeps.push_back({&S(&R::sys_scp_mode), 0});
        if (value == kInputSdiLr) plan.keeps.push_back({&S(&R::sys_2D3D), 0});
        return plan;
    }
    // The panel opens the scope and the adjust views only where the box has them.
    if (InGroup(setting, Group::kScope) && !IsSdiLr(r)) {
        plan.refusal = kScopeOnlyAtSdiLr;
        return plan;
    }
    if (InGroup(setting, Group::kAdjust2D3D) && (IsSdiLr(r) || r.sys_2D3D == 0)) {
        plan.refusal = kAdjustNeedsConversion;
        return plan;
    }
    if (InGroup(setting, Group::kAdjustSdiLr) && !IsSdiLr(r)) {
        plan.refusal = kSdiLrAdjustOnlyAtSdiLr;
        return plan;
    }
    // The 2D-3D adjust values reach the box only while its adjust view is on; otherwise they
    // are kept for when it is.
    if (InGroup(setting, Group::kAdjust2D3D) && field != &R::sys_adj3d_mode && r.sys_adj3d_mode == 0) {
        plan.keeps.push_back({&setting, value});
        return plan;
    }
    if (InGroup(setting, Group::kScope)) {
        TurnOffAdjust(r, plan);  // the scope and an adjust view do not go together
        send_it();
        return plan;
    }
    if (field == &R::sys_LRadj_mode) {
        // The SDI-LR adjust view needs the scope off first.
        if (value != 0 && r.sys_scp_mode != 0) plan.sends.push_back({&S(&R::sys_scp_mode), 0, kTurnOffScopeFailed});
        send_it();
        return plan;
    }
    if (field == &R::sys_sdi_mix || field == &R::sys_hdmi_mix) {
        if (value == kOutputIndividual && r.sys_3dfmt == kFormatAboveBelow) {
            plan.refusal = kFormatForbidsIndividual;
            return plan;
        }
        send_it();
        return plan;
    }
    if (field == &R::sys_3dfmt && value == kFormatAboveBelow) {
        if (r.sys_sdi_mix == kOutputIndividual || r.sys_hdmi_mix == kOutputIndividual) {
            plan.refusal = kIndividualForbidsFormat;
            return plan;
        }
        // Both outputs are sent as MIX again before the format.
        plan.sends.push_back({&S(&R::sys_sdi_mix), kOutputMix});
        plan.sends.push_back({&S(&R::sys_hdmi_mix), kOutputMix});
        send_it();
        return plan;
    }
    send_it();
    return plan;
}

void Settle(SettingsRecord& r) {
    if (r.load_adj_only != 0) return;
    if (IsSdiLr(r)) {
        r.sys_2D3D = 0;
        if (r.sys_LRadj_mode != 0) r.sys_scp_mode = 0;
    } else {
        r.sys_LRadj_mode = 0;
        r.sys_scp_mode = 0;
    }
    if (r.sys_2D3D == 0) r.sys_adj3d_mode = 0;
}

void Apply(const Plan& plan, SettingsRecord& r) {
    for (const Send& send : plan.sends) r.*(send.setting->field) = send.value;
    for (const auto& [setting, value] : plan.keeps) r.*(setting->field) = value;
}

}  // namespace dpx::rules
