#pragma once
// Process-wide services that every layer uses: the one way to tell the operator
// something (a modal notice with an OK button), the fatal-exit hook and the tick source.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// While it lives, keeps every notice shown on the thread that made it, instead of showing it,
// and turns a FatalExit on that thread into a recorded code: the caller then returns as after
// any failure and the process goes on. A service answers with what it kept; the process-wide
// sink and hook stay untouched, so a panel showing notices on another thread is not disturbed.
// Captures nest: the innermost one keeps.
class MessageCapture : public MessageSink {
public:
    MessageCapture();
    ~MessageCapture() override;
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    void Show(const std::string& text) override { ShowDetailed(text, {}); }
    void ShowDetailed(const std::string& text, const std::string& detail) override;
    // The texts kept from the `from`th on, one per line, each followed by its detail.
    std::string Joined(std::size_t from = 0) const;

    std::vector<std::string> texts;
    std::vector<std::string> details;  // one per text; empty where the notice had none
    int fatal_code = 0;                // the code of a FatalExit asked for, else 0
    bool fatal = false;

    // The capture in force on this thread, or nullptr.
    static MessageCapture* Current();
    // Work done on another thread for a caller that waits for it keeps its messages in the
    // caller's capture: Adopt puts `capture` in force on this thread while it lives.
    class Adopt {
    public:
        explicit Adopt(MessageCapture* capture);
        ~Adopt();
        Adopt(const Adopt&) = delete;
        Adopt& operator=(const Adopt&) = delete;

    private:
        MessageCapture* outer_;
    };

private:
    MessageCapture* outer_;
};

// Ends the process after a fatal settings-file error. The default calls std::exit(code);
// tests replace it to record the code (the caller then simply returns). Inside a
// MessageCapture only the capture records it.
using FatalExitHook = std::function<void(int code)>;
FatalExitHook SetFatalExitHook(FatalExitHook hook);  // empty hook restores the default
void FatalExit(int code);

}  // namespace dpx
