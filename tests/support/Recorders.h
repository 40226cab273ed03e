#pragma once
// Test doubles for the process-wide services: a message recorder, a fake clock and a
// fatal-exit recorder. Each installs itself on construction through its own TestSeam,
// which restores the previous one on destruction.
#include <functional>
#include <string>
#include <vector>

#include "common/MessageSink.h"
#include "common/TickSource.h"
#include "tests/support/TestSeam.h"

namespace dpx::test {

class MessageRecorder final : public MessageSink {
public:
    MessageRecorder() { seam_.Sink(this); }
    void Show(const std::string& text) override { ShowDetailed(text, {}); }
    void ShowDetailed(const std::string& text, const std::string& detail) override {
        texts.push_back(text);
        details.push_back(detail);
        if (on_show) on_show(text);
    }
    std::vector<std::string> texts;
    std::vector<std::string> details;  // one per text; empty where the notice had none
    std::function<void(const std::string&)> on_show;  // runs inside the "modal" notice

private:
    TestSeam seam_;
};

// A clock that moves only when told to, or when something waits on it.
class FakeClock final : public TickSource {
public:
    explicit FakeClock(uint32_t start = 1000000) : now(start) { seam_.Clock(this); }
    uint32_t Now() override { return now += auto_advance; }
    void WaitSince(uint32_t since, uint32_t ms) override {
        uint32_t elapsed = now - since;
        if (elapsed < ms) now += ms - elapsed;
        waits.push_back(ms);
    }
    void Advance(uint32_t ms) { now += ms; }
    uint32_t now;
    uint32_t auto_advance = 0;        // added on every Now(), to model time passing by itself
    std::vector<uint32_t> waits;      // every WaitSince duration asked for

private:
    TestSeam seam_;
};

class FatalExitRecorder {
public:
    FatalExitRecorder() {
        seam_.FatalExit([this](int code) { codes.push_back(code); });
    }
    std::vector<int> codes;

private:
    TestSeam seam_;
};

}  // namespace dpx::test
