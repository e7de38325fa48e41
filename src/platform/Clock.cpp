// The system clock: std::chrono::steady_clock and single-shot QTimers.
#include "platform/Clock.h"

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>

namespace orvane {

namespace {
class QtTimerHandle final : public TimerHandle {
public:
    QtTimerHandle(std::int64_t delayMs, std::function<void()> action) : m_timer(new QTimer) {
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::CoarseTimer);
        QObject::connect(m_timer, &QTimer::timeout, [action = std::move(action)] { action(); });
        m_timer->start(static_cast<int>(std::clamp<std::int64_t>(delayMs, 0, INT32_MAX)));
    }
    ~QtTimerHandle() override {
        // The handle is often dropped by its own action, inside the timer's signal: the
        // timer goes later, from the event loop.
        m_timer->stop();
        QObject::disconnect(m_timer, nullptr, nullptr, nullptr);
        m_timer->deleteLater();
    }
    QtTimerHandle(const QtTimerHandle&) = delete;
    QtTimerHandle& operator=(const QtTimerHandle&) = delete;

private:
    QTimer* m_timer;
};
}  // namespace

std::int64_t SystemClock::NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::unique_ptr<TimerHandle> SystemClock::CallAfter(std::int64_t delayMs,
                                                    std::function<void()> action) {
    return std::make_unique<QtTimerHandle>(delayMs, std::move(action));
}

SystemClock& SystemClock::Instance() {
    static SystemClock clock;
    return clock;
}

}  // namespace orvane
