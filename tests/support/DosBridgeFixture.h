// What the `dos` bridge tests share: the process's open descriptors and another process's
// state as /proc tells them, and a fixture that types into a bridge, waits for what the
// client gets and lets no interpreter of one test outlive it into the next.
#pragma once

#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QList>

#include "FakeBridgeEndpoint.h"
#include "TestEnvironment.h"
#include "platform/ChildReaper.h"
#include "platform/InterpreterProcess.h"
#include "telnet/DosBridge.h"

namespace orvane::test {

inline int OpenDescriptorCount() {
    return static_cast<int>(QDir("/proc/self/fd").entryList(QDir::Files | QDir::System).size());
}

// Gone: no such process, or a zombie that is not ours to reap (a killed grandchild
// waiting for init).
inline bool ProcessGone(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 && fields[0] == "Z" && fields[1].toLongLong() != getpid();
}

// The processor time this process spends while its event loop runs with nothing to do
// for `ms`, in seconds.
inline double ProcessorSecondsWhileIdle(int ms) {
    timespec start{}, end{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
    PumpUntil([] { return false; }, ms);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
    return (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
}

// kWaitMs: how long the waits allow unless a test says otherwise.
template <int kWaitMs>
class DosBridgeFixture : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_TRUE(PumpUntil([] { return ChildReaper::Instance().PendingCount() == 0; }));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    static void Type(DosBridge& bridge, const QByteArray& text) {
        bridge.WriteToInterpreter(text.constData(), static_cast<int>(text.size()));
    }

    static bool WaitForText(FakeBridgeEndpoint& endpoint, const QByteArray& text,
                            int timeoutMs = kWaitMs) {
        return PumpUntil([&] { return endpoint.received.contains(text); }, timeoutMs);
    }

    static bool WaitUntilGone(qint64 pid) {
        return PumpUntil([&] { return ProcessGone(pid); }, kWaitMs);
    }

    PosixInterpreterLauncher m_launcher;
};

}  // namespace orvane::test
