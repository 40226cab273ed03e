#pragma once
// The record of every box and controller setting, named after the options-file keys. Plain
// data: the settings table (model/SettingTable.h) describes each field.
#include <cstdint>

namespace dpx {

struct SettingsRecord {
    // Top Dialog UI control
    int32_t sys_2D3D = 0;
    int32_t sys_no_ack = 0;
    int32_t sys_sync_on = 1;
    int32_t vertual_mode = 0;
    int32_t debug_mode = 0;
    // Input Select UI control
    int32_t sys_input_select = 3;
    int32_t sys_input_porality = 0;
    // Output Preset UI control
    int32_t sys_sdi_mix = 0;
    int32_t sys_hdmi_mix = 0;
    int32_t sys_3dfmt = 1;
    // Function UI control
    int32_t sys_rotate = 0;
    int32_t sys_f_sync = 1;
    int32_t sys_beep = 0;
    int32_t sys_bk_light = 0;
    // Function UI control MEM saved value
    int32_t sys_save1_para = 13;
    int32_t sys_save1_inte = 23;
    int32_t sys_save1_subi = 40;
    int32_t sys_save2_para = 13;
    int32_t sys_save2_inte = 23;
    int32_t sys_save2_subi = 40;
    // Adjust 2D3D UI control
    int32_t sys_adj3d_mode = 0;
    int32_t sys_adj3d_para = 13;
    int32_t sys_adj3d_inte = 23;
    int32_t sys_adj3d_subi = 40;
    // Adjust SDI-LR UI control
    int32_t sys_LRadj_mode = 0;
    int32_t sys_LRadj_split = 0;
    // Scope UI control
    int32_t sys_scp_mode = 0;
    int32_t sys_scp_src = 0;
    int32_t sys_scp_pos = 0;
    int32_t sys_scp_fil = 0;
    int32_t sys_scp_wgain = 0;
    int32_t sys_scp_vgain = 0;
    // COM port I/O
    int32_t com_port_num = 1;
    int32_t load_adj_only = 0;

    bool operator==(const SettingsRecord&) const = default;
};

}  // namespace dpx
