#pragma once
// Qt Widgets helpers shared by every window: a dialog built from a layout, controls found
// by resource id, radio groups that can be all-deselected, scroll requests, the modal
// dialog runner.
#include <QDialog>
#include <QFont>
#include <QRect>
#include <QScrollBar>
#include <QStyle>
#include <functional>

#include "resources/Layout.h"

namespace dpx::ui {

// Dialog units of a font: x * base_x / 4 and y * base_y / 8 pixels, with base_x the font's
// average character width (over A-Z and a-z) and base_y its line height. So a layout grows
// with its font and with the screen resolution.
struct DialogUnits {
    int base_x;
    int base_y;
    int X(int du) const;
    int Y(int du) const;
    QRect Map(int x, int y, int w, int h) const;  // corners mapped separately, as rectangles tile
};
DialogUnits DialogUnitsOf(const QFont& font);
// The units of `font`, widened until every caption of `layout` fits its control. A
// substitute font can run wider than the font a layout was drawn for; widening keeps the
// layout's proportions and keeps captions from being clipped.
DialogUnits FitDialogUnits(const res::Layout& layout, const QFont& font, const QStyle* style);
// The font a layout names (after InstallFontSubstitution, the layout face maps to IPAPGothic).
QFont LayoutFont(const res::Layout& layout);

// A modal dialog whose controls are built from layout `layout_id` (caption, font, size and
// every control with its id). Push button 1 accepts, push button 2 rejects; Escape and the
// close box reject as well.
class LayoutDialog : public QDialog {
    Q_OBJECT
public:
    explicit LayoutDialog(int layout_id, QWidget* parent = nullptr);
    const res::Layout& layout() const { return *layout_; }
    // The dialog units the controls were placed in (FitDialogUnits of the layout font).
    const DialogUnits& units() const { return units_; }

    // The initialisation hook: runs once, before the dialog is first shown (RunDialog and
    // the first show both call EnsureInitialised).
    void EnsureInitialised();

protected:
    virtual void InitDialog() {}
    void showEvent(QShowEvent* event) override;

private:
    const res::Layout* layout_;
    DialogUnits units_{1, 1};
    bool initialised_ = false;
};

// Creates the widgets of every control of `layout` as children of `parent`, placed in
// dialog units of `units`. Each widget carries its resource id; group boxes lie behind the
// controls they enclose; radio buttons of one layout group share one exclusive QButtonGroup;
// pictures and icons take their image's own pixel size at their position.
void BuildControls(QWidget* parent, const res::Layout& layout, const DialogUnits& units);

// The control with resource id `id` inside `root`, or nullptr.
QWidget* FindControl(const QWidget* root, int id);
template <class T>
T* Control(const QWidget* root, int id) { return qobject_cast<T*>(FindControl(root, id)); }
// The resource id a built control carries, or res::kNoId.
int ControlId(const QWidget* control);

// Radio buttons of one layout group are exclusive, and can also be all deselected.
void SelectRadio(const QWidget* root, int id);    // selects id, deselects its group's others
void DeselectRadio(const QWidget* root, int id);  // deselects id only
bool IsRadioSelected(const QWidget* root, int id);

// Calls `handler` when the operator clicks picture `id` (a picture whose layout flags hold
// kNotify). Replaces an earlier handler; false if there is no such notifying picture.
bool OnPictureClicked(const QWidget* root, int id, std::function<void()> handler);

// Scroll requests as the operator makes them on a horizontal scroll bar.
enum class ScrollRequest { StepLeft, StepRight, PageLeft, PageRight, ThumbTrack, Other };
// Calls `handler` for every request on `bar`, with the thumb position for ThumbTrack (the
// value for the others). Releasing the thumb is an Other request. The bar does not move by
// itself: it shows what the handler sets with setValue(). A request that comes while the
// handler of the same bar still runs (from a nested message loop) is dropped. Calling it
// again replaces the handler.
// The bar then takes the focus with Tab. Left/Up step left, Right/Down step right, Page Up
// pages left, Page Down pages right, Home and End are Other; each wheel notch steps once;
// the bar's context menu gives "Scroll here" as ThumbTrack at that point, the pages and
// steps as such and the edges as Other.
void OnScrollRequest(QScrollBar* bar, std::function<void(ScrollRequest, int thumb)> handler);
// Delivers a request as the operator would (for tests and tools).
void SendScrollRequest(QScrollBar* bar, ScrollRequest request, int thumb = 0);

// Runs a dialog modally: by default EnsureInitialised() then exec(). UI tests install a
// runner that drives the dialog without a nested event loop.
using DialogRunner = std::function<int(LayoutDialog&)>;
int RunDialog(LayoutDialog& dialog);
DialogRunner SetDialogRunner(DialogRunner runner);  // empty runner restores the default

// Maps the layout font "ＭＳ Ｐゴシック" to IPAPGothic; call once after QApplication exists.
void InstallFontSubstitution();

}  // namespace dpx::ui
