// The deadlines of one session: how long a login may take, how long a client may keep the
// connection after the server's last word, how long a logged-in client may stay silent, and
// the pause before a refused login is answered. Timers on a clock, never sleeps.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace orvane {

class Clock;
class TimerHandle;

class SessionTimers final {
public:
    // After the send side is shut, the client has this long to close before the server does.
    static constexpr std::int64_t kLingerMs = 10'000;
    // A refused login is answered this much later.
    static constexpr std::int64_t kFailureDelayMs = 1'000;

    explicit SessionTimers(Clock& clock);
    ~SessionTimers();
    SessionTimers(const SessionTimers&) = delete;
    SessionTimers& operator=(const SessionTimers&) = delete;

    // Calls `expired` once `ms` from now unless stopped first; 0 or less means never.
    void StartLoginTimeout(std::int64_t ms, std::function<void()> expired);
    void StopLoginTimeout();

    // Calls `over` kLingerMs from now (once; a second call changes nothing).
    void StartLinger(std::function<void()> over);

    // Calls `expired` once nothing was noted for `ms`; 0 or less means never. Input calls
    // NoteInput, which costs no timer of its own.
    void StartIdleTimeout(std::int64_t ms, std::function<void()> expired);
    void NoteInput();
    void StopIdleTimeout();

    // Calls `answer` kFailureDelayMs from now; meanwhile FailureDelayed is true.
    void DelayFailure(std::function<void()> answer);
    bool FailureDelayed() const { return m_failure != nullptr; }

    // Nothing more fires.
    void StopAll();

private:
    void ArmIdle(std::int64_t delayMs);

    Clock& m_clock;
    std::unique_ptr<TimerHandle> m_login;
    std::unique_ptr<TimerHandle> m_linger;
    std::unique_ptr<TimerHandle> m_idle;
    std::unique_ptr<TimerHandle> m_failure;
    std::function<void()> m_idleExpired;
    std::int64_t m_idleMs = 0;
    std::int64_t m_lastInput = 0;
};

}  // namespace orvane
