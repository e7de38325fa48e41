// A shell that floods output must not hold the event loop: the other sessions' keystrokes
// wait behind whatever one wakeup of each bridge forwards.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <memory>

#include "FakeBridgeEndpoint.h"
#include "ShellPrompt.h"
#include "TestEnvironment.h"
#include "platform/ChildReaper.h"
#include "platform/InterpreterProcess.h"
#include "telnet/DosBridge.h"

namespace orvane {
namespace {

using test::EndsWithShellPrompt;
using test::FakeBridgeEndpoint;
using test::PumpUntil;

TEST(BridgeFairness, AFloodingShellForwardsAtMostAPipeFullPerTurnOfTheLoop) {
    PosixInterpreterLauncher launcher;
    FakeBridgeEndpoint endpoint;
    auto bridge = std::make_unique<DosBridge>(endpoint, launcher);
    bridge->Start();
    ASSERT_TRUE(PumpUntil([&] { return EndsWithShellPrompt(endpoint.received); }));
    const QByteArray command = "yes orvane-fairness-line-0123456789\r\n";
    bridge->WriteToInterpreter(command.constData(), static_cast<int>(command.size()));

    // One turn of the loop may forward one pipe-full (64 KiB, at most doubled by the
    // carriage returns added before line feeds); several pipe-fulls per turn made every
    // other session's echo wait milliseconds behind nine such shells.
    constexpr qsizetype kMostPerTurn = 2 * 64 * 1024;
    QTimer tick;  // the loop never waits long for a turn
    tick.start(10);
    qsizetype most = 0;
    for (int turn = 0; turn < 400 && endpoint.received.size() < 16 * 1024 * 1024; ++turn) {
        const qsizetype before = endpoint.received.size();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        most = std::max(most, endpoint.received.size() - before);
        endpoint.received.clear();
    }
    EXPECT_GT(most, 0) << "the shell's output never came";
    EXPECT_LE(most, kMostPerTurn);

    bridge->ClientClosed();
    bridge.reset();
    EXPECT_TRUE(PumpUntil([] { return ChildReaper::Instance().PendingCount() == 0; }));
}

}  // namespace
}  // namespace orvane
