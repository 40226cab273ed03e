#pragma once
// 32-bit millisecond tick counter since system start, and waits measured on it.
// Durations are unsigned differences of two ticks, so the wrap of the counter does no harm.
#include <cstdint>

namespace dpx {

class TickSource {
public:
    virtual ~TickSource() = default;
    virtual uint32_t Now() = 0;
    // Returns once at least `ms` milliseconds have passed since tick `since`.
    // The system source sleeps until the deadline instead of spinning.
    virtual void WaitSince(uint32_t since, uint32_t ms) = 0;
};

// Milliseconds of the monotonic clock (time since boot), truncated to 32 bits.
class SystemTickSource final : public TickSource {
public:
    uint32_t Now() override;
    void WaitSince(uint32_t since, uint32_t ms) override;
};

// The source in force; the system source until a test installs another.
TickSource& Ticks();
// Installs `source` (not owned); nullptr restores the system source. Returns the previous one.
TickSource* SetTickSource(TickSource* source);

// Elapsed milliseconds from `since` to `now`, wrap-safe.
inline uint32_t TicksBetween(uint32_t since, uint32_t now) { return now - since; }

}  // namespace dpx
