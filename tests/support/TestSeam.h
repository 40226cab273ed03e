#pragma once
// The one way tests change what is process-wide: the message sink, the fatal-exit hook, the
// tick source, any other hook whose setter returns what it replaces (the dialog runner) and
// the settings; and the one way they write a link's state. A test hands its own link to
// whatever it drives. A seam saves what it changes and puts it back when it goes out of
// scope, latest change first, so no test restores a hook by hand.
// A link whose state the seam wrote must outlive the seam.
#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

#include "common/MessageSink.h"
#include "common/TickSource.h"
#include "link/RS232c_bios.h"

namespace dpx {

class TestSeam {
public:
    TestSeam() = default;
    ~TestSeam() {
        for (auto undo = undo_.rbegin(); undo != undo_.rend(); ++undo) (*undo)();
    }
    TestSeam(const TestSeam&) = delete;
    TestSeam& operator=(const TestSeam&) = delete;

    void Sink(MessageSink* sink) { Hook(SetMessageSink, sink); }
    void FatalExit(FatalExitHook hook) { Hook(SetFatalExitHook, std::move(hook)); }
    void Clock(TickSource* source) { Hook(SetTickSource, source); }

    // Calls `set(value)` and keeps what it returns to hand back to `set` at the end.
    template <class Setter, class Value>
    void Hook(Setter set, Value value) {
        auto previous = set(std::move(value));
        undo_.push_back([set, previous = std::move(previous)]() mutable { set(std::move(previous)); });
    }

    // The writable state of `link`, brought back at the end to what it was at the first call.
    LinkState& State(RS232c_bios& link) {
        if (std::find(saved_.begin(), saved_.end(), &link) == saved_.end()) {
            saved_.push_back(&link);
            undo_.push_back([&link, state = link.state_] { link.state_ = state; });
        }
        return link.state_;
    }

private:
    std::vector<std::function<void()>> undo_;
    std::vector<const RS232c_bios*> saved_;
};

}  // namespace dpx
