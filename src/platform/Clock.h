// Monotonic time and one-shot timers on the event loop, behind an interface so that tests
// can drive login timeouts, failure delays and penalties with a clock of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace orvane {

// A pending call; destroying the handle cancels it.
class TimerHandle {
public:
    virtual ~TimerHandle() = default;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds on a clock that never goes back (not the time of day).
    virtual std::int64_t NowMs() const = 0;
    // Calls `action` once on the event loop, `delayMs` from now, unless the handle is
    // destroyed first. Never calls it from inside CallAfter itself.
    virtual std::unique_ptr<TimerHandle> CallAfter(std::int64_t delayMs,
                                                   std::function<void()> action) = 0;
};

// The real one: a steady clock and Qt timers on the calling thread's event loop.
class SystemClock final : public Clock {
public:
    std::int64_t NowMs() const override;
    std::unique_ptr<TimerHandle> CallAfter(std::int64_t delayMs,
                                           std::function<void()> action) override;
    // The one the program uses where nothing else was given.
    static SystemClock& Instance();
};

}  // namespace orvane
