#include "app/DialogValues.h"

namespace dpx {

void FillFrom(const SettingsRecord& s, Adjust2D3DValues& v) {
    v.sys_adj3d_mode = s.sys_adj3d_mode;
    v.sys_adj3d_para = s.sys_adj3d_para;
    v.sys_adj3d_inte = s.sys_adj3d_inte;
    v.sys_adj3d_subi = s.sys_adj3d_subi;
}

void CopyBack(const Adjust2D3DValues& v, SettingsRecord& s) {
    s.sys_adj3d_mode = v.sys_adj3d_mode;
    s.sys_adj3d_para = v.sys_adj3d_para;
    s.sys_adj3d_inte = v.sys_adj3d_inte;
    s.sys_adj3d_subi = v.sys_adj3d_subi;
}

void FillFrom(const SettingsRecord& s, AdjustSdiLrValues& v) {
    v.sys_LRadj_mode = s.sys_LRadj_mode;
    v.sys_LRadj_split = s.sys_LRadj_split;
}

void CopyBack(const AdjustSdiLrValues& v, SettingsRecord& s) {
    s.sys_LRadj_mode = v.sys_LRadj_mode;
    s.sys_LRadj_split = v.sys_LRadj_split;
}

void FillFrom(const SettingsRecord& s, ScopeValues& v) {
    v.sys_scp_mode = s.sys_scp_mode;
    v.sys_scp_src = s.sys_scp_src;
    v.sys_scp_pos = s.sys_scp_pos;
    v.sys_scp_fil = s.sys_scp_fil;
    v.sys_scp_wgain = s.sys_scp_wgain;
    v.sys_scp_vgain = s.sys_scp_vgain;
}

void CopyBack(const ScopeValues& v, SettingsRecord& s) {
    s.sys_scp_mode = v.sys_scp_mode;
    s.sys_scp_src = v.sys_scp_src;
    s.sys_scp_pos = v.sys_scp_pos;
    s.sys_scp_fil = v.sys_scp_fil;
    s.sys_scp_wgain = v.sys_scp_wgain;
    s.sys_scp_vgain = v.sys_scp_vgain;
}

void FillFrom(const SettingsRecord& s, FunctionValues& v) {
    v.sys_rotate = s.sys_rotate;
    v.sys_f_sync = s.sys_f_sync;
    v.sys_beep = s.sys_beep;
    v.sys_bk_light = s.sys_bk_light;
}

void CopyBack(const FunctionValues& v, SettingsRecord& s) {
    s.sys_rotate = v.sys_rotate;
    s.sys_f_sync = v.sys_f_sync;
    s.sys_beep = v.sys_beep;
    s.sys_bk_light = v.sys_bk_light;
}

void FillFrom(const SettingsRecord& s, InputSelectValues& v) {
    v.sys_input_select = s.sys_input_select;
    v.sys_input_porality = s.sys_input_porality;
}

void CopyBack(const InputSelectValues& v, SettingsRecord& s) {
    s.sys_input_select = v.sys_input_select;
    s.sys_input_porality = v.sys_input_porality;
}

void FillFrom(const SettingsRecord& s, OutputPresetValues& v) {
    v.sys_sdi_mix = s.sys_sdi_mix;
    v.sys_hdmi_mix = s.sys_hdmi_mix;
    v.sys_3dfmt = s.sys_3dfmt;
}

void CopyBack(const OutputPresetValues& v, SettingsRecord& s) {
    s.sys_sdi_mix = v.sys_sdi_mix;
    s.sys_hdmi_mix = v.sys_hdmi_mix;
    s.sys_3dfmt = v.sys_3dfmt;
}

}  // namespace dpx
