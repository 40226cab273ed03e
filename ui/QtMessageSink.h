#pragma once
// MessageSink over QMessageBox: a modal warning with an OK button.
#include <QString>
#include <functional>
#include <string>

#include "common/MessageSink.h"

namespace dpx::ui {

// The text a notice shows: UTF-8 when the bytes are valid UTF-8, else one character per
// byte (Latin-1), so a debug report shows its frame bytes as they are.
QString NoticeText(const std::string& text);

// A notice and its detail as a box shows them. A text of more than `max_lines` lines keeps
// only its first paragraph (or its first `max_lines` lines) in the box; the rest, after the
// line ends that separate them, goes behind "Show Details...", after the notice's own detail.
struct NoticeParts {
    std::string text;
    std::string detail;
};
NoticeParts FitNotice(const std::string& text, const std::string& detail, int max_lines);

// A notice asked for on another thread (the link's) is shown on the window's thread while the
// asking thread waits: true when `show` was run there, false when the caller is on that
// thread already and shows it itself.
bool ShownOnWindowThread(const std::function<void()>& show);

class QtMessageSink final : public MessageSink {
public:
    void Show(const std::string& text) override;
    // The detail goes behind the box's "Show Details..." button; a notice taller than the
    // screen is cut there too (FitNotice), so that the OK button is always on the screen.
    // A notice shown while a wait cursor is up waits for the operator with the normal cursor.
    void ShowDetailed(const std::string& text, const std::string& detail) override;

    // Each notice is told to `watcher` (on the window's thread) before it is shown: the
    // panel's control API passes it on to its event clients. Unwatch: told no more.
    using Watcher = std::function<void(const std::string& text, const std::string& detail)>;
    void Watch(Watcher watcher) { watcher_ = std::move(watcher); }
    void Unwatch() { watcher_ = nullptr; }

private:
    Watcher watcher_;
};

}  // namespace dpx::ui
