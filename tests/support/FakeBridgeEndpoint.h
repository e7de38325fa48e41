// A session stand-in for bridge tests: records what the bridge sends, can play a full
// output buffer or a failed connection, and counts the bridge's end.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>

#include "telnet/BridgeEndpoint.h"

namespace orvane::test {

class FakeBridgeEndpoint final : public BridgeEndpoint {
public:
    int SendBuffer(const char* data, int length) override {
        if (full) ++sendsWhileFull;
        received.append(data, length);
        sinceResume += length;
        if (fullAfter > 0 && sinceResume >= fullAfter) {
            full = true;
            ++timesFull;
        }
        return sendResult;
    }
    bool OutputBufferFull() const override { return full; }
    void BridgeEnded() override {
        ++endedCount;
        if (onEnded) onEnded();
    }

    // The session's buffer drained: room again.
    void Drain() {
        full = false;
        sinceResume = 0;
    }

    QByteArray received;
    int sendResult = 1;
    int endedCount = 0;
    bool full = false;
    qsizetype fullAfter = 0;  // when > 0: the buffer is full after this many bytes
    qsizetype sinceResume = 0;
    int timesFull = 0;
    int sendsWhileFull = 0;
    std::function<void()> onEnded;
};

// Runs the event loop until `done` holds or `timeoutMs` has passed; waits for events
// instead of spinning. Returns whether `done` held.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 3000) {
    QElapsedTimer clock;
    clock.start();
    QTimer tick;  // wakes the loop so that the deadline is noticed
    tick.start(10);
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

}  // namespace orvane::test
