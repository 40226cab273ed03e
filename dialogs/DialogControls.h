#pragma once
// Pieces the six control dialogs share: radio choice groups with their codes, the scroll
// request arithmetic, and the read-only number fields with their range check on closing.
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/LayoutDialog.h"

namespace dpx::dialogs {

// One radio of a choice group and a code it shows. A radio may have several rows (codes
// that are shown alike); its first row is the code a click on it sends.
struct RadioCode {
    int id;
    int32_t code;
};

struct ChoiceGroup {
    std::vector<RadioCode> radios;
    int fallback_id;         // the radio that shows an unlisted code
    int32_t fallback_value;  // what an unlisted code is turned into

    bool Lists(int32_t code) const;
    int RadioOf(int32_t code) const;  // fallback_id for an unlisted code
    int32_t CodeOf(int id) const;     // the code radio `id` sends
    std::vector<int> Ids() const;     // each radio once, in table order
};

// Selects the radio of *value; an unlisted *value selects the fallback radio and becomes
// the fallback value.
void ShowChoice(const QWidget* root, const ChoiceGroup& group, int32_t* value);

// Sends v, which returns the text to show when it failed (empty: it went through).
using SendValue = std::function<std::string(int32_t)>;

// Stores v and sends it. On failure shows the send's text, puts the old value back and
// deselects the radio of v; then selects the radio of the value in force. Returns the
// send's result (non-zero on success).
int ApplyChoice(const QWidget* root, const ChoiceGroup& group, int32_t* value, int32_t v, const SendValue& send);

// Calls `handler` when push button or radio `id` is clicked.
void OnClicked(const QWidget* root, int id, std::function<void()> handler);

// The bar position a request asks for: steps of 1, pages of 10, the thumb while dragging.
// Every other request (thumb released, jump to an end, end of scrolling) asks for nothing.
std::optional<int> ScrollTarget(ui::ScrollRequest request, int position, int thumb);

// Gives bar `id` its range, steps of 1 and 10, and its position.
QScrollBar* SetUpBar(const QWidget* root, int id, int low, int high, int position);

// Shows v in read-only field `id` in signed decimal.
void ShowNumber(const QWidget* root, int id, int32_t v);

// Reads field `id` back into *out when it holds an integer within low..high; otherwise
// prompts the range, puts the focus on the field and returns false (*out untouched).
bool ReadNumber(const QWidget* root, int id, int low, int high, int32_t* out);

// The range prompt of ReadNumber.
std::string RangePrompt(int low, int high);

// Stores v and sends it; on failure shows the send's text and puts the old value back.
// Returns the send's result (non-zero on success).
int ApplyValue(int32_t* value, int32_t v, const SendValue& send);

// Handles the operator's requests on bar `id`: a step, a page or the dragged thumb moves the
// bar to the requested position clamped to low..high and then calls `moved`; every other
// request does nothing at all.
void OnBarMoved(const QWidget* root, int id, int low, int high, std::function<void()> moved);

// The position of bar `id` (0 if there is no such bar).
int BarPosition(const QWidget* root, int id);

}  // namespace dpx::dialogs
