#pragma once
// Process-wide services that every layer uses: the one way to tell the operator
// something (a modal notice with an OK button), the fatal-exit hook and the tick source.
#include <cstdint>
#include <functional>
#include <string>

namespace dpx {

// Shows one modal notice with an OK button and returns when the operator closed it.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void Show(const std::string& text) = 0;
    // The same notice with a detailed text (the cause of a failure) that the operator can
    // open from it. The default shows the text alone.
    virtual void ShowDetailed(const std::string& text, const std::string& detail) {
        (void)detail;
        Show(text);
    }
};

// The sink in force. Until the application or a test installs one, messages go to stderr.
MessageSink& Messages();
// Installs `sink` (not owned); nullptr restores the stderr sink. Returns the previous one.
MessageSink* SetMessageSink(MessageSink* sink);
// Shorthand for Messages().Show(text), or ShowDetailed when `detail` is not empty.
void ShowMessage(const std::string& text, const std::string& detail = {});

// Ends the process after a fatal settings-file error. The default calls std::exit(code);
// tests replace it to record the code (the caller then simply returns).
using FatalExitHook = std::function<void(int code)>;
FatalExitHook SetFatalExitHook(FatalExitHook hook);  // empty hook restores the default
void FatalExit(int code);

}  // namespace dpx
