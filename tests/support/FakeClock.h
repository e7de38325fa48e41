// A clock that moves only when a test says so; its timers fire inside Advance, in order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Clock.h"

namespace orvane::test {

class FakeClock final : public Clock {
public:
    std::int64_t NowMs() const override { return m_now; }

    std::unique_ptr<TimerHandle> CallAfter(std::int64_t delayMs,
                                           std::function<void()> action) override {
        auto pending = std::make_shared<Pending>();
        pending->due = m_now + std::max<std::int64_t>(delayMs, 0);
        pending->order = m_nextOrder++;
        pending->action = std::move(action);
        m_pending.push_back(pending);
        return std::make_unique<Handle>(pending);
    }

    // Moves the time forward, firing every timer that falls due on the way at its own time.
    void Advance(std::int64_t ms) {
        const std::int64_t end = m_now + ms;
        std::erase_if(m_pending, [](const auto& p) { return p->cancelled; });
        for (;;) {
            std::shared_ptr<Pending> next;
            for (const auto& pending : m_pending) {
                if (pending->cancelled || pending->due > end) continue;
                if (!next || pending->due < next->due ||
                    (pending->due == next->due && pending->order < next->order)) {
                    next = pending;
                }
            }
            if (!next) break;
            m_now = std::max(m_now, next->due);
            next->cancelled = true;
            std::erase(m_pending, next);
            next->action();
        }
        m_now = end;
    }

    // Timers not yet fired nor cancelled.
    int PendingCount() const {
        return static_cast<int>(std::count_if(m_pending.begin(), m_pending.end(),
                                              [](const auto& p) { return !p->cancelled; }));
    }

private:
    struct Pending {
        std::int64_t due = 0;
        std::uint64_t order = 0;
        bool cancelled = false;
        std::function<void()> action;
    };
    class Handle final : public TimerHandle {
    public:
        explicit Handle(std::shared_ptr<Pending> pending) : m_pending(std::move(pending)) {}
        ~Handle() override { m_pending->cancelled = true; }

    private:
        std::shared_ptr<Pending> m_pending;
    };

    std::int64_t m_now = 1'000'000;
    std::uint64_t m_nextOrder = 0;
    std::vector<std::shared_ptr<Pending>> m_pending;
};

}  // namespace orvane::test
