#pragma once
// A control dialog runs on the values of its group, taken from the session's record, and hands
// back what it changed, whichever button closed it; while it runs it shows what others (the
// control API, a memory load) change.
#include <QMetaObject>
#include <QThread>

#include "dialogs/ControlDialog.h"
#include "session/Session.h"
#include "ui/LayoutDialog.h"

namespace dpx {

// Hands `dialog` its values from the session's record and runs it modally. Meanwhile a
// setting of its group changed by someone else shows in the dialog at once. Afterwards the
// record takes the values the dialog changed: a setting changed meanwhile by someone else keeps
// its value unless the dialog changed it too.
template <class Dialog>
void RunWithSettings(Dialog& dialog, Session& session) {
    using Values = typename Dialog::ValuesType;
    const auto group = dialogs::GroupSettings<Values>();
    const Values given = dialogs::ValuesFrom<Values>(session.Record());
    dialog.SetValues(given);
    const auto show = [&dialog, group](const SessionEvent& e) {
        auto values = dialogs::AsArray(dialog.GetValues());
        for (std::size_t i = 0; i < group.size(); ++i)
            if (group[i] == e.setting) values[i] = e.value;
        dialog.SetValues(std::bit_cast<Values>(values));
        dialog.ShowValues();
    };
    // Events come on the box's thread; the dialog shows them on its own.
    const int subscription = session.Subscribe([&dialog, show](const SessionEvent& e) {
        // The dialog's own changes come back as the panel's: it shows them already.
        if (e.kind != SessionEvent::Kind::kSetting || e.source == Source::kPanel) return;
        if (e.setting->group != Values::kGroup) return;
        if (QThread::currentThread() == dialog.thread()) show(e);
        else QMetaObject::invokeMethod(&dialog, [show, e] { show(e); }, Qt::QueuedConnection);
    });
    ui::RunDialog(dialog);
    session.Unsubscribe(subscription);
    const auto before = dialogs::AsArray(given);
    const auto after = dialogs::AsArray(dialog.GetValues());
    for (std::size_t i = 0; i < group.size(); ++i)
        if (after[i] != before[i]) session.Record().*group[i]->field = after[i];
}

}  // namespace dpx
