#include "dialogs/DialogControls.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QScrollBar>
#include <algorithm>

#include "common/MessageSink.h"

namespace dpx::dialogs {

bool ChoiceGroup::Lists(int32_t code) const {
    for (const RadioCode& r : radios)
        if (r.code == code) return true;
    return false;
}

int ChoiceGroup::RadioOf(int32_t code) const {
    for (const RadioCode& r : radios)
        if (r.code == code) return r.id;
    return fallback_id;
}

int32_t ChoiceGroup::CodeOf(int id) const {
    for (const RadioCode& r : radios)
        if (r.id == id) return r.code;
    return fallback_value;
}

std::vector<int> ChoiceGroup::Ids() const {
    std::vector<int> ids;
    for (const RadioCode& r : radios) {
        bool seen = false;
        for (int id : ids) seen = seen || id == r.id;
        if (!seen) ids.push_back(r.id);
    }
    return ids;
}

void ShowChoice(const QWidget* root, const ChoiceGroup& group, int32_t* value) {
    ui::SelectRadio(root, group.RadioOf(*value));
    if (!group.Lists(*value)) *value = group.fallback_value;
}

int ApplyChoice(const QWidget* root, const ChoiceGroup& group, int32_t* value, int32_t v, const SendValue& send) {
    const int32_t old = *value;
    *value = v;
    const std::string failure = send(v);
    const int ok = failure.empty() ? 1 : 0;
    if (!ok) {
        ShowMessage(failure);
        *value = old;
        ui::DeselectRadio(root, group.RadioOf(v));
    }
    ShowChoice(root, group, value);
    return ok;
}

void OnClicked(const QWidget* root, int id, std::function<void()> handler) {
    if (auto* button = ui::Control<QAbstractButton>(root, id))
        QObject::connect(button, &QAbstractButton::clicked, button,
                         [handler = std::move(handler)] { handler(); });
}

std::optional<int> ScrollTarget(ui::ScrollRequest request, int position, int thumb) {
    switch (request) {
        case ui::ScrollRequest::StepLeft: return position - 1;
        case ui::ScrollRequest::StepRight: return position + 1;
        case ui::ScrollRequest::PageLeft: return position - 10;
        case ui::ScrollRequest::PageRight: return position + 10;
        case ui::ScrollRequest::ThumbTrack: return thumb;
        case ui::ScrollRequest::Other: break;
    }
    return std::nullopt;
}

QScrollBar* SetUpBar(const QWidget* root, int id, int low, int high, int position) {
    auto* bar = ui::Control<QScrollBar>(root, id);
    if (!bar) return nullptr;
    bar->setRange(low, high);
    bar->setSingleStep(1);
    bar->setPageStep(10);
    bar->setValue(position);
    return bar;
}

void ShowNumber(const QWidget* root, int id, int32_t v) {
    if (auto* field = ui::Control<QLineEdit>(root, id)) field->setText(QString::number(v));
}

std::string RangePrompt(int low, int high) {
    return "Please enter an integer between " + std::to_string(low) + " and " +
           std::to_string(high) + ".";
}

bool ReadNumber(const QWidget* root, int id, int low, int high, int32_t* out) {
    auto* field = ui::Control<QLineEdit>(root, id);
    bool ok = false;
    const int v = field ? field->text().trimmed().toInt(&ok) : 0;
    if (!ok || v < low || v > high) {
        ShowMessage(RangePrompt(low, high));
        if (field) field->setFocus();
        return false;
    }
    *out = v;
    return true;
}

int ApplyValue(int32_t* value, int32_t v, const SendValue& send) {
    const int32_t old = *value;
    *value = v;
    const std::string failure = send(v);
    const int ok = failure.empty() ? 1 : 0;
    if (!ok) {
        ShowMessage(failure);
        *value = old;
    }
    return ok;
}

void OnBarMoved(const QWidget* root, int id, int low, int high, std::function<void()> moved) {
    QScrollBar* bar = ui::Control<QScrollBar>(root, id);
    if (!bar) return;
    ui::OnScrollRequest(bar, [bar, low, high, moved = std::move(moved)](ui::ScrollRequest request, int thumb) {
        const std::optional<int> target = ScrollTarget(request, bar->value(), thumb);
        if (!target) return;
        bar->setValue(std::clamp(*target, low, high));
        moved();
    });
}

int BarPosition(const QWidget* root, int id) {
    const auto* bar = ui::Control<QScrollBar>(root, id);
    return bar ? bar->value() : 0;
}

}  // namespace dpx::dialogs
