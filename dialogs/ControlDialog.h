#pragma once
// What the six control dialogs have in common: the box's session they send through, the values record
// of their group (handed in before the dialog runs, handed back after), the sending of one
// value with its failure message, the bars with their read-only fields, and a view of the
// values that sends nothing, for changes made elsewhere (the control API) while the dialog is
// open.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "dialogs/DialogControls.h"
#include "link/RS232c_bios.h"
#include "session/Session.h"
#include "model/SettingTable.h"
#include "ui/LayoutDialog.h"

namespace dpx::dialogs {

// A values record holds the settings of its group (Values::kGroup) as int32_t members, in the
// order of the settings table, so the table alone says which member is which setting.
template <class Values>
using ValuesArray = std::array<int32_t, CountIn(Values::kGroup)>;

template <class Values>
ValuesArray<Values> AsArray(const Values& v) {
    static_assert(sizeof(Values) == sizeof(ValuesArray<Values>), "one member per setting of the group");
    return std::bit_cast<ValuesArray<Values>>(v);
}

// The settings of the group, in table order.
template <class Values>
std::array<const Setting*, CountIn(Values::kGroup)> GroupSettings() {
    std::array<const Setting*, CountIn(Values::kGroup)> group{};
    std::size_t i = 0;
    for (const Setting& setting : kSettings)
        if (setting.group == Values::kGroup) group[i++] = &setting;
    return group;
}

// The setting that `member` holds.
template <class Values>
const Setting& SettingFor(int32_t Values::*member) {
    Values marked = std::bit_cast<Values>(ValuesArray<Values>{});
    marked.*member = 1;
    const ValuesArray<Values> a = AsArray(marked);
    std::size_t i = 0;
    while (a[i] == 0) ++i;
    return *GroupSettings<Values>()[i];
}

// The values of `s` for its group.
template <class Values>
Values ValuesFrom(const SettingsRecord& s) {
    ValuesArray<Values> values{};
    const auto group = GroupSettings<Values>();
    for (std::size_t i = 0; i < group.size(); ++i) values[i] = s.*group[i]->field;
    return std::bit_cast<Values>(values);
}

// How one setting shows in its dialog: its radios, or its bar with the read-only field beside
// it; and the message a failed send shows.
template <class Values>
struct SettingView {
    int32_t Values::*member;
    const ChoiceGroup* choices = nullptr;
    int bar = 0;
    int field = 0;
    const char* failure = nullptr;
};

// How the operator asks a control dialog for a value of one of its settings: the radio that
// sends `code`, or the bar that takes any value; 0 where the dialog has neither.
class ValueControls {
public:
    virtual ~ValueControls() = default;
    virtual bool Holds(const Setting& setting) const = 0;
    virtual int RadioFor(const Setting& setting, int32_t code) const = 0;
    virtual int BarFor(const Setting& setting) const = 0;
};

template <class Values>
class ControlDialog : public ui::LayoutDialog, public ValueControls {
public:
    using ValuesType = Values;
    using View = SettingView<Values>;

    // Sends through `session`, which must outlive the dialog.
    ControlDialog(int layout_id, Session& session, std::vector<View> views, QWidget* parent)
        : ui::LayoutDialog(layout_id, parent), session_(session), views_(std::move(views)) {}

    void SetValues(const Values& values) { values_ = values; }
    Values GetValues() const { return values_; }

    bool Holds(const Setting& setting) const override { return FindView(setting) != nullptr; }
    int RadioFor(const Setting& setting, int32_t code) const override {
        const View* view = FindView(setting);
        if (!view || !view->choices) return 0;
        for (int id : view->choices->Ids())
            if (view->choices->CodeOf(id) == code) return id;
        return 0;
    }
    int BarFor(const Setting& setting) const override {
        const View* view = FindView(setting);
        return view && !view->choices ? view->bar : 0;
    }

    // Shows the values on their radios, bars and fields without sending anything.
    void ShowValues() {
        for (const View& view : views_)
            if (view.choices) ShowChoice(this, *view.choices, &(values_.*view.member));
        ShowBars();
        ShowFields();
    }

protected:
    // Stores v and changes its setting through the session, by the box's rules like every
    // other door. On failure shows the rule's text or the failed setting's message and puts
    // the old value back; a radio setting then shows the radio of the value in force and the
    // fields are shown again. Returns the change's result (non-zero on success).
    int Apply(int32_t Values::*member, int32_t v) {
        const View& view = ViewOf(member);
        const Setting& setting = SettingFor(member);
        return Show(member, v, [this, &setting, &view](int32_t x) -> std::string {
            const ChangeResult change = session_.Change({{&setting, x}}, Source::kPanel);
            if (change.ok) return {};
            if (!change.error.empty()) return change.error;
            // A send the rules added for another setting of the dialog fails with that one's text.
            const View* failed = change.failed ? FindView(*change.failed->setting) : nullptr;
            return (failed ? failed : &view)->failure;
        });
    }

    // Sends the value in force as it is, without the box's rules: what a dialog sends as it
    // opens, so that the box shows what the panel holds. A failure shows as with Apply.
    int Resend(int32_t Values::*member) {
        const View& view = ViewOf(member);
        const Setting& setting = SettingFor(member);
        const int ok = Show(member, values_.*member, [this, &setting, &view](int32_t x) -> std::string {
            return session_.Send(setting, x, Source::kPanel) ? "" : view.failure;
        });
        // A code without a radio shows as the group's first: the record keeps what shows, for
        // the rules that read it (an unknown adjust mode is off).
        if (session_.Record().*setting.field != values_.*member)
            session_.Change({{&setting, values_.*member}}, Source::kPanel, false);
        return ok;
    }

    // Sends every bar that differs from its value, so a bar left standing after a failed send
    // is tried again at the next request on any of them; then shows the fields.
    void BarsMoved() {
        for (const View& view : views_) {
            if (view.choices) continue;
            const int position = BarPosition(this, view.bar);
            if (position != values_.*view.member) Apply(view.member, position);
        }
        ShowFields();
    }

    // A click on a radio sends its code, except on the radios in `own`, which the dialog handles
    // itself.
    void FollowRadios(std::initializer_list<int> own = {}) {
        for (const View& view : views_) {
            if (!view.choices) continue;
            for (int id : view.choices->Ids()) {
                if (std::find(own.begin(), own.end(), id) != own.end()) continue;
                OnClicked(this, id, [this, member = view.member, code = view.choices->CodeOf(id)] { Apply(member, code); });
            }
        }
    }

    // Moves each bar on a step, a page or its dragged thumb, clamped to its setting's range.
    void FollowBars() {
        for (const View& view : views_) {
            if (view.choices) continue;
            const ValueRange range = SettingFor(view.member).Range();
            OnBarMoved(this, view.bar, range.low, range.high, [this] { BarsMoved(); });
        }
    }

    // Gives each bar its setting's range, steps of 1 and 10, and its value.
    void ShowBars() {
        for (const View& view : views_) {
            if (view.choices) continue;
            const ValueRange range = SettingFor(view.member).Range();
            SetUpBar(this, view.bar, range.low, range.high, values_.*view.member);
        }
    }

    // Shows each bar's value in its field.
    void ShowFields() {
        for (const View& view : views_)
            if (!view.choices) ShowNumber(this, view.field, values_.*view.member);
    }

    // Takes each field back into its value when it holds an integer within its setting's range;
    // otherwise prompts the range at the first field that does not, and returns false.
    bool ReadFields() {
        for (const View& view : views_) {
            if (view.choices) continue;
            const ValueRange range = SettingFor(view.member).Range();
            if (!ReadNumber(this, view.field, range.low, range.high, &(values_.*view.member))) return false;
        }
        return true;
    }

    Session& session_;
    Values values_;

private:
    int Show(int32_t Values::*member, int32_t v, const dialogs::SendValue& send) {
        const View& view = ViewOf(member);
        if (!view.choices) return ApplyValue(&(values_.*member), v, send);
        const int ok = ApplyChoice(this, *view.choices, &(values_.*member), v, send);
        ShowFields();
        return ok;
    }

    const View& ViewOf(int32_t Values::*member) const {
        for (const View& view : views_)
            if (view.member == member) return view;
        return views_.front();
    }
    const View* FindView(const Setting& setting) const {
        for (const View& view : views_)
            if (&SettingFor(view.member) == &setting) return &view;
        return nullptr;
    }

    std::vector<View> views_;
};

}  // namespace dpx::dialogs
