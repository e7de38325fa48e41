// One-shot timers for a session's deadlines, on the injected clock.
#include "telnet/SessionTimers.h"

#include <utility>

#include "platform/Clock.h"

namespace orvane {

SessionTimers::SessionTimers(Clock& clock) : m_clock(clock) {}

SessionTimers::~SessionTimers() = default;

void SessionTimers::StartLoginTimeout(std::int64_t ms, std::function<void()> expired) {
    m_login.reset();
    if (ms <= 0) return;
    m_login = m_clock.CallAfter(ms, [this, expired = std::move(expired)] {
        const std::function<void()> run = expired;
        m_login.reset();
        run();
    });
}

void SessionTimers::StopLoginTimeout() {
    m_login.reset();
}

void SessionTimers::StartLinger(std::function<void()> over) {
    if (m_linger) return;
    m_linger = m_clock.CallAfter(kLingerMs, std::move(over));
}

void SessionTimers::StartIdleTimeout(std::int64_t ms, std::function<void()> expired) {
    m_idle.reset();
    m_idleMs = ms;
    m_idleExpired = std::move(expired);
    m_lastInput = m_clock.NowMs();
    if (ms > 0) ArmIdle(ms);
}

void SessionTimers::NoteInput() {
    m_lastInput = m_clock.NowMs();
}

void SessionTimers::StopIdleTimeout() {
    m_idle.reset();
    m_idleMs = 0;
}

void SessionTimers::ArmIdle(std::int64_t delayMs) {
    // One timer for the whole silence: when it fires early because input came meanwhile,
    // it is set again for what is left.
    m_idle = m_clock.CallAfter(delayMs, [this] {
        const std::int64_t silent = m_clock.NowMs() - m_lastInput;
        if (silent < m_idleMs) {
            ArmIdle(m_idleMs - silent);
            return;
        }
        m_idleMs = 0;
        const std::function<void()> expired = std::move(m_idleExpired);
        m_idle.reset();
        if (expired) expired();
    });
}

void SessionTimers::DelayFailure(std::function<void()> answer) {
    m_failure = m_clock.CallAfter(kFailureDelayMs, [this, answer = std::move(answer)] {
        // The answer is taken before the handle (which holds this very function) goes.
        const std::function<void()> run = answer;
        m_failure.reset();
        run();
    });
}

void SessionTimers::StopAll() {
    m_login.reset();
    m_linger.reset();
    m_idle.reset();
    m_failure.reset();
    m_idleMs = 0;
}

}  // namespace orvane
