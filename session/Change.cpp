#include "session/Change.h"

#include <chrono>

namespace dpx {

std::vector<rules::Plan> PlanValues(SettingsRecord record, const SettingValues& values, std::string* refusal) {
    std::vector<rules::Plan> plans;
    for (const auto& [setting, value] : values) {
        rules::Plan plan = rules::PlanChange(record, *setting, value);
        if (!plan.refusal.empty()) {
            *refusal = plan.refusal;
            return {};
        }
        rules::Apply(plan, record);
        plans.push_back(std::move(plan));
    }
    return plans;
}

ChangeResult ApplyChange(RS232c_bios& link, SettingsRecord& record, const SettingValues& values, bool send) {
    ChangeResult out;
    const std::vector<rules::Plan> plans = PlanValues(record, values, &out.error);
    if (!out.error.empty()) {
        out.ok = false;
        out.refused = true;
        return out;
    }
    // Compared as a whole at the end: the link's taken handler may have set a value already.
    const SettingsRecord start = record;
    const auto take = [&](const Setting* setting, int32_t value) { record.*(setting->field) = value; };
    std::vector<std::pair<uint64_t, uint64_t>> transactions;  // of each send, first and last
    for (const rules::Plan& plan : plans) {
        for (const rules::Send& s : plan.sends) {
            if (send) {
                const auto t0 = std::chrono::steady_clock::now();
                link.ClearResult();
                const uint64_t first = link.Transactions() + 1;
                const bool ok = link.SetValue(s.setting->command, s.value) == 1;
                transactions.emplace_back(first, link.Transactions());
                const long ms = static_cast<long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count());
                out.steps.push_back({s.setting, s.value, ok ? kResultOk : link.State().link_result, ms});
                if (!ok) {
                    out.ok = false;
                    out.failed = out.steps.back();
                    if (s.failure) out.error = s.failure;
                    out.changed = !(record == start);
                    return out;
                }
            }
            take(s.setting, s.value);
        }
        for (const auto& [setting, value] : plan.keeps) take(setting, value);
    }
    // Every send went through, but a reply given up earlier may still have been taken for one
    // of them: such a send is doubted, a failure whose value the box may not have, and the
    // record keeps what it had.
    if (!transactions.empty()) {
        link.SettleReplies();
        for (std::size_t i = 0; i < out.steps.size(); ++i) {
            if (!link.RepliesDoubted(transactions[i].first, transactions[i].second)) continue;
            ChangeStep& step = out.steps[i];
            step.result = kResultOutOfStep;
            record.*(step.setting->field) = start.*(step.setting->field);
            if (!out.failed) out.failed = step;
            out.ok = false;
        }
    }
    out.changed = !(record == start);
    return out;
}

}  // namespace dpx
