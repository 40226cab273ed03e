#include "app/DialogValues.h"

#include <cstddef>

namespace dpx {
namespace {

// A field of a dialog's values record and the settings field it stands for. One list per dialog
// serves both directions, so filling and copying back can never disagree on a field.
template <class Values>
struct Field {
    int32_t SettingsRecord::*setting;
    int32_t Values::*value;
};

using R = SettingsRecord;

constexpr Field<Adjust2D3DValues> kAdjust2D3D[] = {
    {&R::sys_adj3d_mode, &Adjust2D3DValues::sys_adj3d_mode},
    {&R::sys_adj3d_para, &Adjust2D3DValues::sys_adj3d_para},
    {&R::sys_adj3d_inte, &Adjust2D3DValues::sys_adj3d_inte},
    {&R::sys_adj3d_subi, &Adjust2D3DValues::sys_adj3d_subi},
};

constexpr Field<AdjustSdiLrValues> kAdjustSdiLr[] = {
    {&R::sys_LRadj_mode, &AdjustSdiLrValues::sys_LRadj_mode},
    {&R::sys_LRadj_split, &AdjustSdiLrValues::sys_LRadj_split},
};

constexpr Field<ScopeValues> kScope[] = {
    {&R::sys_scp_mode, &ScopeValues::sys_scp_mode},
    {&R::sys_scp_src, &ScopeValues::sys_scp_src},
    {&R::sys_scp_pos, &ScopeValues::sys_scp_pos},
    {&R::sys_scp_fil, &ScopeValues::sys_scp_fil},
    {&R::sys_scp_wgain, &ScopeValues::sys_scp_wgain},
    {&R::sys_scp_vgain, &ScopeValues::sys_scp_vgain},
};

constexpr Field<FunctionValues> kFunction[] = {
    {&R::sys_rotate, &FunctionValues::sys_rotate},
    {&R::sys_f_sync, &FunctionValues::sys_f_sync},
    {&R::sys_beep, &FunctionValues::sys_beep},
    {&R::sys_bk_light, &FunctionValues::sys_bk_light},
};

constexpr Field<InputSelectValues> kInputSelect[] = {
    {&R::sys_input_select, &InputSelectValues::sys_input_select},
    {&R::sys_input_porality, &InputSelectValues::sys_input_porality},
};

constexpr Field<OutputPresetValues> kOutputPreset[] = {
    {&R::sys_sdi_mix, &OutputPresetValues::sys_sdi_mix},
    {&R::sys_hdmi_mix, &OutputPresetValues::sys_hdmi_mix},
    {&R::sys_3dfmt, &OutputPresetValues::sys_3dfmt},
};

template <class Values, std::size_t N>
void Fill(const SettingsRecord& s, Values& v, const Field<Values> (&fields)[N]) {
    for (const Field<Values>& f : fields) v.*f.value = s.*f.setting;
}

template <class Values, std::size_t N>
void Copy(const Values& v, SettingsRecord& s, const Field<Values> (&fields)[N]) {
    for (const Field<Values>& f : fields) s.*f.setting = v.*f.value;
}

}  // namespace

void FillFrom(const SettingsRecord& s, Adjust2D3DValues& v) { Fill(s, v, kAdjust2D3D); }
void CopyBack(const Adjust2D3DValues& v, SettingsRecord& s) { Copy(v, s, kAdjust2D3D); }
void FillFrom(const SettingsRecord& s, AdjustSdiLrValues& v) { Fill(s, v, kAdjustSdiLr); }
void CopyBack(const AdjustSdiLrValues& v, SettingsRecord& s) { Copy(v, s, kAdjustSdiLr); }
void FillFrom(const SettingsRecord& s, ScopeValues& v) { Fill(s, v, kScope); }
void CopyBack(const ScopeValues& v, SettingsRecord& s) { Copy(v, s, kScope); }
void FillFrom(const SettingsRecord& s, FunctionValues& v) { Fill(s, v, kFunction); }
void CopyBack(const FunctionValues& v, SettingsRecord& s) { Copy(v, s, kFunction); }
void FillFrom(const SettingsRecord& s, InputSelectValues& v) { Fill(s, v, kInputSelect); }
void CopyBack(const InputSelectValues& v, SettingsRecord& s) { Copy(v, s, kInputSelect); }
void FillFrom(const SettingsRecord& s, OutputPresetValues& v) { Fill(s, v, kOutputPreset); }
void CopyBack(const OutputPresetValues& v, SettingsRecord& s) { Copy(v, s, kOutputPreset); }

}  // namespace dpx
