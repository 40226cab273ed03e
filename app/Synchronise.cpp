#include "app/Synchronise.h"

#include <cstdio>
#include <string>

#include "common/Format.h"
#include "common/MessageSink.h"
#include "common/TickSource.h"
#include "link/RS232c_bios.h"
#include "settings/SystemSettings.h"

namespace dpx {

int32_t sync_error_count = 0;
int32_t sync_last_failure = 0;
int32_t sync_step_count = 0;
int32_t sync_pass = 0;
bool (*sync_stop)() = nullptr;

namespace {

using Operation = int (RS232c_bios::*)(int32_t);

bool Stopping() { return sync_stop && sync_stop(); }

// One step: the operation is tried twice before the step counts as failed.
void Step(Operation op, int32_t value) {
    if (Stopping()) return;
    ++sync_step_count;
    RS232c_bios& link = Link();
    if ((link.*op)(value)) return;
    if (!Stopping() && (link.*op)(value)) return;
    ++sync_error_count;
    sync_last_failure = link.State().link_result;
}

// Settings kept as two hex digits in the files go to the box as their low 8 bits.
int32_t Low8(int32_t value) { return value & 0xFF; }

void AdjustOnlyPass() {
    const SettingsRecord& s = SystemSettings;
    Step(&RS232c_bios::SetConversion, 1);
    Step(&RS232c_bios::SetParallax, Low8(s.sys_adj3d_para));
    Step(&RS232c_bios::SetIntensity, Low8(s.sys_adj3d_inte));
    Step(&RS232c_bios::SetSubIntensity, Low8(s.sys_adj3d_subi));
}

void FullPass() {
    const SettingsRecord& s = SystemSettings;
    Step(&RS232c_bios::SetRotate, s.sys_rotate);
    Step(&RS232c_bios::SetFrameSync, s.sys_f_sync);
    Step(&RS232c_bios::SetBeep, s.sys_beep);
    Step(&RS232c_bios::SetBeep, s.sys_beep);  // the beep goes out in two steps
    Step(&RS232c_bios::SetBackLight, Low8(s.sys_bk_light));
    Step(&RS232c_bios::SetSdiOutput, s.sys_sdi_mix);
    Step(&RS232c_bios::SetHdmiOutput, s.sys_hdmi_mix);
    Step(&RS232c_bios::Set3dFormat, s.sys_3dfmt);
    Step(&RS232c_bios::SetInputSelect, s.sys_input_select);
    Step(&RS232c_bios::SetInputPorality, s.sys_input_porality);

    if (s.sys_input_select == 0) {  // SDI-LR input
        Step(&RS232c_bios::SetAdjustMode, s.sys_LRadj_mode);
        Step(&RS232c_bios::SetSplitPosition, Low8(s.sys_LRadj_split));
        if (s.sys_LRadj_mode != 0) return;
        Step(&RS232c_bios::SetScopeSource, s.sys_scp_src);
        Step(&RS232c_bios::SetScopePosition, s.sys_scp_pos);
        Step(&RS232c_bios::SetScopeFilter, s.sys_scp_fil);
        Step(&RS232c_bios::SetWfmGain, Low8(s.sys_scp_wgain));
        Step(&RS232c_bios::SetVectorGain, Low8(s.sys_scp_vgain));
        if (s.sys_scp_mode != 0) Step(&RS232c_bios::SetScopeMode, s.sys_scp_mode);
    } else if (s.sys_2D3D != 0) {
        Step(&RS232c_bios::SetConversion, 1);
        Step(&RS232c_bios::SetAdjustMode, s.sys_adj3d_mode);
        Step(&RS232c_bios::SetParallax, Low8(s.sys_adj3d_para));
        Step(&RS232c_bios::SetIntensity, Low8(s.sys_adj3d_inte));
        Step(&RS232c_bios::SetSubIntensity, Low8(s.sys_adj3d_subi));
        // Conversion and adjust mode go out once more, after the three values.
        Step(&RS232c_bios::SetConversion, 1);
        Step(&RS232c_bios::SetAdjustMode, s.sys_adj3d_mode);
    } else {
        Step(&RS232c_bios::SetConversion, 0);
    }
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
        AdjustOnlyPass();
    } else {
        FullPass();
    }
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
