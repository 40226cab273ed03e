// One door, one set of frames: for a generated table of box states and changes (every setting
// the box takes, its edges and each rule's edge), the panel's own controls and the session that
// the control API and dpx20ctl use send the same frames and refuse with the same text.
#include <QAbstractButton>
#include <QScrollBar>
#include <map>
#include <optional>
#include <random>

#include "dialogs/ControlDialog.h"
#include "session/BoxRules.h"
#include "session/Session.h"
#include "tests/support/BoxPort.h"
#include "tests/ui/panel_fixture.h"

namespace dpx::test {
namespace {

using namespace panel;
using R = SettingsRecord;
using Frames = std::vector<std::string>;

// The value frames the box read, byte for byte. The category selects before them are left
// out: the link sends one only when the category changes, which depends on its history.
Frames FramesOf(sim::BoxModel& box) {
    Frames out;
    for (const sim::Exchange& ex : box.History())
        if (ex.command >= kINPSE) out.emplace_back(ex.frame.begin(), ex.frame.end());
    box.ClearHistory();
    return out;
}

// What the panel's control for a change asks of the box. This is the one place where the
// panel asks more than the change itself: a 2D-3D adjust view's radio sends the three adjust
// values after the mode. (Opening a dialog sends more too, the values in force and the adjust
// or scope off: the table compares from the record the panel holds once the dialog is open.)
SettingValues PanelAsks(const Setting& setting, int32_t value, const R& held) {
    SettingValues asked{{&setting, value}};
    if (setting.field == &R::sys_adj3d_mode && value != 0)
        for (int32_t R::*field : {&R::sys_adj3d_para, &R::sys_adj3d_inte, &R::sys_adj3d_subi})
            asked.emplace_back(&SettingOf(field), held.*field);
    return asked;
}

// The panel's button that opens the dialog of `group`.
int ButtonOf(Group group) {
    switch (group) {
        case Group::kInputSelect: return kInputSelect;
        case Group::kOutputPreset: return kOutputPreset;
        case Group::kFunction: return kFunction;
        case Group::kScope: return kScope;
        default: return kAdjustMode;  // the 2D-3D or the SDI-LR adjust, by the input
    }
}

// Whether the button of the setting's dialog serves it from `state`: ADJUST MODE serves the
// adjust view of the input in force, and what it says there is about that view only.
bool ButtonServes(const Setting& setting, const R& state) {
    if (setting.group == Group::kAdjustSdiLr) return rules::IsSdiLr(state);
    if (setting.group == Group::kAdjust2D3D) return !rules::IsSdiLr(state);
    return true;
}

// Box states with a fixed seed, each as the box can hold it (rules::Settle).
std::vector<R> States(int count) {
    std::mt19937 random(20261210);
    const auto pick = [&random](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    std::vector<R> states;
    for (int i = 0; i < count; ++i) {
        R r;
        r.sys_input_select = i % 4;  // each input as often
        r.sys_2D3D = pick(0, 1);
        r.sys_adj3d_mode = std::array{0, 4, 6, 8}[pick(0, 3)];
        r.sys_LRadj_mode = pick(0, 3);
        r.sys_scp_mode = pick(0, 2);
        r.sys_3dfmt = pick(0, 3);
        r.sys_sdi_mix = r.sys_3dfmt == rules::kFormatAboveBelow ? 0 : pick(0, 1);
        r.sys_hdmi_mix = r.sys_3dfmt == rules::kFormatAboveBelow ? 0 : pick(0, 1);
        r.sys_adj3d_para = pick(0, 60);
        r.sys_scp_wgain = pick(-30, 30);
        rules::Settle(r);
        states.push_back(r);
    }
    return states;
}

// The settings the box takes, as "key=value" pairs.
std::string Describe(const R& r) {
    std::string out;
    for (const Setting& s : kSettings)
        if (s.Settable()) out += std::string(" ") + s.key + "=" + std::to_string(r.*s.field);
    return out;
}

// The values tried for a setting: every one of a short range, else its edges and middle.
std::vector<int32_t> ValuesOf(const Setting& setting) {
    const ValueRange range = setting.Range();
    std::vector<int32_t> values;
    if (range.high - range.low <= 12) {
        for (int32_t v = range.low; v <= range.high; ++v) values.push_back(v);
    } else {
        values = {range.low, range.low + 1, (range.low + range.high) / 2, range.high - 1, range.high};
    }
    return values;
}

// The session of another box, as the control API and dpx20ctl have it.
struct SessionSide {
    sim::BoxModel box;
    RS232c_bios link;
    Session session{link, "."};
    R& record = session.Record();
    SessionSide() {
        BoxPort::Install(link, box);
        link.SetDebugMode(0);
        link.SetComNumber(1);
        link.ConnectLink(1);
        box.ClearHistory();
    }
};

class PanelSessionFramesTest : public PanelTest {
protected:
    // What the panel did when the operator asked for `value` of `setting` from `state`.
    struct Asked {
        bool control = true;  // false: the panel offers no control for it here
        bool value_control = true;  // false: the dialog opened, but no radio or bar asks for it
        R held;               // the record when the control was used
        Frames frames;
        std::vector<std::string> texts;
    };
    Asked Ask(const Setting& setting, int32_t value, const R& state) {
        Settings() = state;
        panel_->RefreshPanel();
        FramesOf(box_);
        messages_.texts.clear();
        ran_.clear();
        Asked out;
        out.held = state;
        if (setting.field == &R::sys_2D3D) {
            out.value_control = Checked(kConversion) != (value != 0);
            if (out.value_control) Click(kConversion);
        } else {
            on_dialog_ = [&](ui::LayoutDialog& dialog) {
                dialog.show();  // its opening sends, which the table leaves out
                out.held = Settings();
                FramesOf(box_);
                messages_.texts.clear();
                auto& controls = dynamic_cast<dialogs::ValueControls&>(dialog);
                const int radio = controls.RadioFor(setting, value);
                const int bar = controls.BarFor(setting);
                auto* button = radio ? ui::Control<QAbstractButton>(&dialog, radio) : nullptr;
                if (button && !button->isHidden()) {
                    button->click();
                } else if (bar && Settings().*setting.field != value) {
                    ui::SendScrollRequest(ui::Control<QScrollBar>(&dialog, bar), ui::ScrollRequest::ThumbTrack, value);
                } else {
                    out.control = controls.Holds(setting);
                    out.value_control = false;
                }
                out.frames = FramesOf(box_);
                out.texts = messages_.texts;
                dialog.hide();
            };
            Click(ButtonOf(setting.group));
            on_dialog_ = nullptr;
            if (ran_.empty()) {  // refused as the dialog would open
                out.frames = FramesOf(box_);
                out.texts = messages_.texts;
                out.control = !out.texts.empty() && ButtonServes(setting, state);
            }
        }
        if (setting.field == &R::sys_2D3D) {
            out.frames = FramesOf(box_);
            out.texts = messages_.texts;
        }
        return out;
    }
};

TEST_F(PanelSessionFramesTest, ThePanelAndTheSessionSendTheSameFramesForEveryChange) {
    Start();
    ConnectQuietly();
    int compared = 0, refused = 0, without_control = 0;
    std::map<std::string, int> per_setting;
    for (const R& state : States(12)) {
        for (const Setting& setting : kSettings) {
            if (!setting.Settable()) continue;
            for (int32_t value : ValuesOf(setting)) {
                SCOPED_TRACE(std::string(setting.key) + "=" + std::to_string(value) + " from" + Describe(state));
                const Asked panel = Ask(setting, value, state);
                if (!panel.value_control && panel.control) continue;  // a code without a radio, a bar at its value
                SessionSide side;
                side.record = panel.held;
                const ChangeResult change = side.session.Change(PanelAsks(setting, value, panel.held), Source::kApi);
                if (!panel.control) {
                    // Where the panel offers nothing (the other adjust view), the session refuses.
                    EXPECT_TRUE(change.refused);
                    EXPECT_TRUE(FramesOf(side.box).empty());
                    ++without_control;
                    continue;
                }
                EXPECT_EQ(panel.frames, FramesOf(side.box));
                EXPECT_EQ(panel.texts, change.refused ? std::vector<std::string>{change.error} : std::vector<std::string>{});
                ++compared;
                refused += change.refused ? 1 : 0;
                ++per_setting[setting.key];
            }
        }
    }
    std::printf("pairs compared: %d (%d refused); without a panel control, refused by the session: %d\n", compared,
                refused, without_control);
    EXPECT_GE(compared, 500);
    EXPECT_GT(refused, 20);
    EXPECT_EQ(per_setting.size(), 22u);  // every setting the box takes
}

}  // namespace
}  // namespace dpx::test
