#include "common/MessageSink.h"
#include "common/TickSource.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace dpx {
namespace {

class StderrSink final : public MessageSink {
public:
    void Show(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    void ShowDetailed(const std::string& text, const std::string& detail) override {
        std::fprintf(stderr, "%s\n(%s)\n", text.c_str(), detail.c_str());
    }
};

StderrSink stderr_sink;
MessageSink* current_sink = &stderr_sink;
FatalExitHook fatal_hook;
SystemTickSource system_ticks;
TickSource* current_ticks = &system_ticks;
thread_local MessageCapture* capture = nullptr;

}  // namespace

MessageCapture::MessageCapture() : outer_(capture) { capture = this; }
MessageCapture::~MessageCapture() { capture = outer_; }
MessageCapture* MessageCapture::Current() { return capture; }
MessageCapture::Adopt::Adopt(MessageCapture* adopted) : outer_(capture) { capture = adopted; }
MessageCapture::Adopt::~Adopt() { capture = outer_; }

void MessageCapture::ShowDetailed(const std::string& text, const std::string& detail) {
    texts.push_back(text);
    details.push_back(detail);
}

std::string MessageCapture::Joined(std::size_t from) const {
    std::string out;
    for (std::size_t i = from; i < texts.size(); ++i) {
        if (!out.empty()) out += "\n";
        out += texts[i];
        if (!details[i].empty()) out += "\n" + details[i];
    }
    return out;
}

MessageSink& Messages() { return capture ? *capture : *current_sink; }

MessageSink* SetMessageSink(MessageSink* sink) {
    MessageSink* previous = current_sink;
    current_sink = sink ? sink : &stderr_sink;
    return previous == &stderr_sink ? nullptr : previous;
}

void ShowMessage(const std::string& text, const std::string& detail) {
    if (detail.empty())
        Messages().Show(text);
    else
        Messages().ShowDetailed(text, detail);
}

FatalExitHook SetFatalExitHook(FatalExitHook hook) {
    FatalExitHook previous = std::move(fatal_hook);
    fatal_hook = std::move(hook);
    return previous;
}

void FatalExit(int code) {
    if (capture) {
        capture->fatal = true;
        capture->fatal_code = code;
        return;
    }
    if (fatal_hook) {
        fatal_hook(code);
        return;
    }
    std::exit(code);
}

uint32_t SystemTickSource::Now() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemTickSource::WaitSince(uint32_t since, uint32_t ms) {
    for (;;) {
        uint32_t elapsed = TicksBetween(since, Now());
        if (elapsed >= ms) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(ms - elapsed));
    }
}

TickSource& Ticks() { return *current_ticks; }

TickSource* SetTickSource(TickSource* source) {
    TickSource* previous = current_ticks;
    current_ticks = source ? source : &system_ticks;
    return previous == &system_ticks ? nullptr : previous;
}

}  // namespace dpx
