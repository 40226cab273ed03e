#include "app/Synchronise.h"

#include <cstdio>
#include <string>

#include "common/Format.h"
#include "common/MessageSink.h"
#include "common/TickSource.h"
#include "link/RS232c_bios.h"
#include "link/SettingTable.h"
#include "settings/SystemSettings.h"

namespace dpx {

int32_t sync_error_count = 0;
int32_t sync_last_failure = 0;
int32_t sync_step_count = 0;
int32_t sync_pass = 0;
bool (*sync_stop)() = nullptr;

namespace {

bool Stopping() { return sync_stop && sync_stop(); }

constexpr int kStepAttempts = 2;

// One step: the device operation is tried twice before the step counts as failed.
void Step(RS232c_bios& link, const SyncItem& item) {
    if (Stopping()) return;
    ++sync_step_count;
    for (int attempt = 1; attempt <= kStepAttempts; ++attempt) {
        if (attempt > 1 && Stopping()) break;
        if (link.SetValue(item.setting->command, item.value)) return;
    }
    ++sync_error_count;
    sync_last_failure = link.State().link_result;
}

}  // namespace

int SyncRun() {
    if (SystemSettings.vertual_mode != 0) return 1;
    Link().SetDebugMode(0);
    sync_error_count = 0;
    sync_last_failure = 0;
    sync_step_count = 0;
    if (SystemSettings.load_adj_only != 0) {
        if (SystemSettings.sys_2D3D == 0) {
            ShowMessage(
                "Update only for 2D-3D Adjust value : error!\n\nNow 2D-3D conversion is OFF.\n"
                "This is a limitation.\nThe adjust value commands are only valid with 2D-3D on.");
            Link().SetDebugMode(SystemSettings.debug_mode);
            return 0;
        }
    }
    for (const SyncItem& item : PassSteps(SystemSettings)) Step(Link(), item);
    Link().SetDebugMode(SystemSettings.debug_mode);
    return sync_error_count == 0 ? 1 : 0;
}

int SynchroniseAll() {
    TickSource& ticks = Ticks();
    sync_pass = 1;
    uint32_t t0 = ticks.Now();
    int r = SyncRun();
    uint32_t t1 = ticks.Now();
    if (Stopping()) return 0;
    if (r == 1) {
        ShowMessage(Format("Update ZR-DPX20 all settings : Compleate!\nProcess time = %u mS.",
                           TicksBetween(t0, t1)));
        return 1;
    }
    std::string message = Format(
        "Update ZR-DPX20 all settings : error found!\n\n"
        "1st try : error = %d times. process time = %u mS.\n",
        sync_error_count, TicksBetween(t0, t1));

    sync_pass = 2;
    uint32_t t2 = ticks.Now();
    r = SyncRun();
    uint32_t t3 = ticks.Now();
    if (Stopping()) return 0;
    if (r == 1) {
        message += Format("2nd try : process OK.      process time = %u mS.\n", TicksBetween(t2, t3));
        ShowMessage(message);
        return 1;
    }
    message += Format("2nd try : error = %d times. process time = %u mS.\n", sync_error_count,
                      TicksBetween(t2, t3));

    sync_pass = 3;
    uint32_t t4 = ticks.Now();
    r = SyncRun();
    uint32_t t5 = ticks.Now();
    if (Stopping()) return 0;
    if (r == 1) {
        message += Format("3rd try : process OK.      process time = %u mS.\n", TicksBetween(t4, t5));
        ShowMessage(message);
        return 1;
    }
    message += Format(
        "3rd try : error = %d times. process time = %u mS.\n\nGive up! Maybe better to restart "
        "this program.",
        sync_error_count, TicksBetween(t4, t5));
    ShowMessage(message);
    return 0;
}

}  // namespace dpx
