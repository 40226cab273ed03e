#pragma once
// Each control dialog's values record, filled from the settings and copied back into them.
// A dialog gets its values before it runs and hands them back whichever button closed it.
#include "dialogs/Adjust2D3DDialog.h"
#include "dialogs/AdjustSdiLrDialog.h"
#include "dialogs/FunctionDialog.h"
#include "dialogs/InputSelectDialog.h"
#include "dialogs/OutputPresetDialog.h"
#include "dialogs/ScopeDialog.h"
#include "settings/SystemSettings.h"
#include "ui/LayoutDialog.h"

namespace dpx {

void FillFrom(const SettingsRecord& s, Adjust2D3DValues& v);
void CopyBack(const Adjust2D3DValues& v, SettingsRecord& s);
void FillFrom(const SettingsRecord& s, AdjustSdiLrValues& v);
void CopyBack(const AdjustSdiLrValues& v, SettingsRecord& s);
void FillFrom(const SettingsRecord& s, ScopeValues& v);
void CopyBack(const ScopeValues& v, SettingsRecord& s);
void FillFrom(const SettingsRecord& s, FunctionValues& v);
void CopyBack(const FunctionValues& v, SettingsRecord& s);
void FillFrom(const SettingsRecord& s, InputSelectValues& v);
void CopyBack(const InputSelectValues& v, SettingsRecord& s);
void FillFrom(const SettingsRecord& s, OutputPresetValues& v);
void CopyBack(const OutputPresetValues& v, SettingsRecord& s);

// Hands `dialog` its values from `s`, runs it modally and copies its values back into `s`.
template <class Dialog>
void RunWithSettings(Dialog& dialog, SettingsRecord& s) {
    decltype(dialog.GetValues()) values;
    FillFrom(s, values);
    dialog.SetValues(values);
    ui::RunDialog(dialog);
    CopyBack(dialog.GetValues(), s);
}

}  // namespace dpx
