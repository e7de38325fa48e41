// The `dos` bridge against a real /bin/sh and a fake session: what the client sees, how the
// bridge ends, and that no interpreter, zombie or descriptor is left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <memory>
#include <vector>

#include "DosBridgeFixture.h"
#include "FakeBridgeEndpoint.h"
#include "ShellPrompt.h"
#include "TestEnvironment.h"
#include "platform/ChildReaper.h"
#include "platform/InterpreterProcess.h"
#include "telnet/ClientTexts.h"
#include "telnet/DosBridge.h"

namespace orvane {
namespace {

using test::EndsWithShellPrompt;
using test::FakeBridgeEndpoint;
using test::OpenDescriptorCount;
using test::ProcessGone;
using test::ProcessorSecondsWhileIdle;
using test::PumpUntil;

bool EveryLineFeedFollowsACarriageReturn(const QByteArray& bytes) {
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) return false;
    }
    return true;
}

class DosBridgeTest : public test::DosBridgeFixture<3000> {
protected:
    // Starts a bridge and waits for the shell's first prompt, which comes after its notes
    // about the missing terminal; what the client saw so far is then forgotten.
    std::unique_ptr<DosBridge> StartBridge(FakeBridgeEndpoint& endpoint) {
        auto bridge = std::make_unique<DosBridge>(endpoint, m_launcher);
        bridge->Start();
        EXPECT_TRUE(PumpUntil([&] { return EndsWithShellPrompt(endpoint.received); }));
        endpoint.received.clear();
        return bridge;
    }
};

TEST_F(DosBridgeTest, EchoCommandIsAnsweredWithItsLineAndTheTypingIsLeftToTheSession) {
    FakeBridgeEndpoint endpoint;
    auto bridge = StartBridge(endpoint);
    ASSERT_TRUE(bridge->IsRunning());

    const QByteArray command = "echo hello\r\n";
    // Taken for the interpreter, and said so: the session echoes what the bridge took.
    EXPECT_TRUE(bridge->WriteToInterpreter(command.constData(), static_cast<int>(command.size())));
    ASSERT_TRUE(WaitForText(endpoint, "hello\r\n")) << endpoint.received.constData();
    EXPECT_TRUE(endpoint.received.startsWith("hello\r\n"));
    EXPECT_TRUE(EveryLineFeedFollowsACarriageReturn(endpoint.received));
    EXPECT_EQ(endpoint.endedCount, 0);
}

TEST_F(DosBridgeTest, BridgeTakesNoInputBeforeItStartsOrAfterItEnds) {
    FakeBridgeEndpoint endpoint;
    DosBridge idle(endpoint, m_launcher);
    EXPECT_FALSE(idle.WriteToInterpreter("x\r", 2));

    auto bridge = StartBridge(endpoint);
    EXPECT_FALSE(bridge->WriteToInterpreter("", 0));
    Type(*bridge, "exit\r\n");
    ASSERT_TRUE(PumpUntil([&] { return endpoint.endedCount > 0; }));
    EXPECT_FALSE(bridge->WriteToInterpreter("echo late\r\n", 11));
}

TEST_F(DosBridgeTest, EachEnterRunsExactlyOneCommand) {
    FakeBridgeEndpoint endpoint;
    auto bridge = StartBridge(endpoint);

    // A carriage return reaching the shell would break the arithmetic; a doubled line end
    // would not show, but a lost one would.
    Type(*bridge, "n=0\r\n");
    for (int i = 0; i < 3; ++i) {
        Type(*bridge, "n=$((n+1))");
        Type(*bridge, "\r\n");
    }
    Type(*bridge, "echo \"count=$n.\"\r\n");
    ASSERT_TRUE(WaitForText(endpoint, "count=3.\r\n")) << endpoint.received.constData();
}

TEST_F(DosBridgeTest, LineEndsSplitAcrossReadsAreNotDoubled) {
    FakeBridgeEndpoint endpoint;
    auto bridge = StartBridge(endpoint);

    Type(*bridge, "printf 'one\\r'; sleep 0.2; printf '\\ntwo\\nthree\\r\\n'\r\n");
    ASSERT_TRUE(WaitForText(endpoint, "three\r\n"));
    EXPECT_TRUE(endpoint.received.contains("one\r\ntwo\r\nthree\r\n"))
        << endpoint.received.constData();
    EXPECT_FALSE(endpoint.received.contains("\r\r"));
}

TEST_F(DosBridgeTest, ExitShowsTheLastOutputThenTheClosingTextOnce) {
    FakeBridgeEndpoint endpoint;
    auto bridge = StartBridge(endpoint);
    const qint64 pid = bridge->InterpreterPid();
    bool runningInsideEnd = true;
    endpoint.onEnded = [&] { runningInsideEnd = bridge->IsRunning(); };

    Type(*bridge, "echo bye; exit\r\n");
    ASSERT_TRUE(PumpUntil([&] { return endpoint.endedCount > 0; }));
    const QByteArray closing = text::kNormalExit;
    EXPECT_TRUE(endpoint.received.endsWith("bye\r\n" + closing)) << endpoint.received.constData();
    EXPECT_FALSE(runningInsideEnd);
    EXPECT_TRUE(ProcessGone(pid));

    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(endpoint.endedCount, 1);
}

TEST_F(DosBridgeTest, OutputStillInThePipeAtExitIsSentBeforeTheClosingText) {
    FakeBridgeEndpoint endpoint;
    endpoint.fullAfter = 64 * 1024;
    auto bridge = StartBridge(endpoint);

    // The shell is gone long before the session has taken this much.
    Type(*bridge, "head -c 600000 /dev/zero | tr '\\0' a; exit\r\n");
    ASSERT_TRUE(PumpUntil([&] {
        if (endpoint.full) {
            endpoint.Drain();
            bridge->ResumeOutput();
        }
        return endpoint.endedCount > 0;
    }));
    EXPECT_EQ(endpoint.received, QByteArray(600000, 'a') + text::kNormalExit)
        << endpoint.received.size() << " " << endpoint.received.right(80).constData();
}

TEST_F(DosBridgeTest, FiveMegabytesArriveWholeWhileTheSessionBufferFillsAndDrains) {
    FakeBridgeEndpoint endpoint;
    endpoint.fullAfter = 256 * 1024;
    auto bridge = StartBridge(endpoint);

    Type(*bridge, "head -c 5000000 /dev/zero | tr '\\0' x; echo; echo DONE\r\n");
    ASSERT_TRUE(PumpUntil(
        [&] {
            if (endpoint.full) {
                endpoint.Drain();
                bridge->ResumeOutput();
            }
            return endpoint.received.contains("DONE\r\n");
        },
        10000));
    EXPECT_EQ(endpoint.received.count('x'), 5000000);
    EXPECT_GT(endpoint.timesFull, 5);
    EXPECT_EQ(endpoint.sendsWhileFull, 0);
}

TEST_F(DosBridgeTest, TenBridgesProgressSideBySide) {
    constexpr int kBridges = 10;
    std::vector<std::unique_ptr<FakeBridgeEndpoint>> endpoints;
    std::vector<std::unique_ptr<DosBridge>> bridges;
    for (int i = 0; i < kBridges; ++i) {
        endpoints.push_back(std::make_unique<FakeBridgeEndpoint>());
        bridges.push_back(StartBridge(*endpoints.back()));
        ASSERT_TRUE(bridges.back()->IsRunning());
    }
    // Each interpreter takes half a second; one waiting for another would take five.
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kBridges; ++i) {
        Type(*bridges[i], QByteArray("sleep 0.5; echo ready-") + QByteArray::number(i) + ".\r\n");
    }
    ASSERT_TRUE(PumpUntil(
        [&] {
            for (int i = 0; i < kBridges; ++i) {
                if (!endpoints[i]->received.contains("ready-" + QByteArray::number(i) + ".\r\n"))
                    return false;
            }
            return true;
        },
        4000));
    EXPECT_LT(clock.elapsed(), 2500);

    for (auto& bridge : bridges) Type(*bridge, "exit\r\n");
    ASSERT_TRUE(PumpUntil([&] {
        for (auto& endpoint : endpoints)
            if (endpoint->endedCount != 1) return false;
        return true;
    }));
}

TEST_F(DosBridgeTest, InterpreterThatCannotStartSaysSoAndLeavesNoDescriptorOpen) {
    const int before = OpenDescriptorCount();
    PosixInterpreterLauncher::Options options;
    options.program = "/nonexistent/orvane-interpreter";
    PosixInterpreterLauncher launcher(options);
    FakeBridgeEndpoint endpoint;
    DosBridge bridge(endpoint, launcher);

    bridge.Start();
    EXPECT_EQ(endpoint.received, QByteArray(text::kCreateProcessFailed));
    EXPECT_EQ(endpoint.endedCount, 1);
    EXPECT_FALSE(bridge.IsRunning());
    EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST_F(DosBridgeTest, PipeThatCannotBeCreatedSaysSoAndLeavesNoDescriptorOpen) {
    for (int failingCall : {1, 2}) {
        const int before = OpenDescriptorCount();
        int calls = 0;
        PosixInterpreterLauncher::Options options;
        options.createPipe = [&](int* fds, int flags) {
            if (++calls == failingCall) {
                errno = EMFILE;
                return -1;
            }
            return ::pipe2(fds, flags);
        };
        PosixInterpreterLauncher launcher(options);
        FakeBridgeEndpoint endpoint;
        DosBridge bridge(endpoint, launcher);

        bridge.Start();
        EXPECT_EQ(endpoint.received, QByteArray(text::kCreatePipeFailed)) << failingCall;
        EXPECT_EQ(endpoint.endedCount, 1);
        EXPECT_EQ(OpenDescriptorCount(), before) << "pipe call " << failingCall;
    }
}

TEST_F(DosBridgeTest, ClientLeavingEndsTheShellAndItsJobsSilently) {
    const int before = OpenDescriptorCount();
    FakeBridgeEndpoint endpoint;
    auto bridge = StartBridge(endpoint);
    const qint64 shell = bridge->InterpreterPid();

    Type(*bridge, "sleep 30 & echo \"job=$!.\"\r\n");
    ASSERT_TRUE(WaitForText(endpoint, ".\r\n"));
    const qsizetype at = endpoint.received.indexOf("job=") + 4;
    const qint64 job =
        endpoint.received.mid(at, endpoint.received.indexOf('.', at) - at).toLongLong();
    ASSERT_GT(job, 0);

    const QByteArray sentBefore = endpoint.received;
    bridge->ClientClosed();
    EXPECT_FALSE(bridge->IsRunning());
    EXPECT_TRUE(WaitUntilGone(shell));
    EXPECT_TRUE(WaitUntilGone(job));
    EXPECT_EQ(endpoint.endedCount, 0);
    EXPECT_EQ(endpoint.received, sentBefore);

    bridge.reset();
    EXPECT_TRUE(PumpUntil([] { return ChildReaper::Instance().PendingCount() == 0; }));
    PumpUntil([] { return false; }, 50);  // lets deferred deletions run
    EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST_F(DosBridgeTest, ServerStoppingMidCommandLeavesNoShellEvenOneIgnoringHangup) {
    FakeBridgeEndpoint endpoint;
    auto bridge = StartBridge(endpoint);
    const qint64 shell = bridge->InterpreterPid();

    Type(*bridge, "trap '' HUP; echo trapped; sleep 30\r\n");
    ASSERT_TRUE(WaitForText(endpoint, "trapped\r\n"));
    QElapsedTimer clock;
    clock.start();
    bridge.reset();
    EXPECT_LT(clock.elapsed(), 100);  // the grace does not hold up the caller
    EXPECT_TRUE(WaitUntilGone(shell));
    EXPECT_EQ(endpoint.endedCount, 0);
}

TEST_F(DosBridgeTest, InterpreterThatStopsReadingEndsTheBridgeWithAbortText) {
    FakeBridgeEndpoint endpoint;
    auto bridge = StartBridge(endpoint);
    const qint64 shell = bridge->InterpreterPid();

    Type(*bridge, "exec 0<&-; echo closed; sleep 30\r\n");
    ASSERT_TRUE(WaitForText(endpoint, "closed\r\n"));
    // Refused, so the session echoes nothing of it.
    EXPECT_FALSE(bridge->WriteToInterpreter("more\r\n", 6));
    ASSERT_TRUE(PumpUntil([&] { return endpoint.endedCount > 0; }));
    EXPECT_TRUE(endpoint.received.endsWith(text::kAbortLoop));
    EXPECT_TRUE(WaitUntilGone(shell));
}

TEST_F(DosBridgeTest, FailedSendToTheClientEndsTheBridgeAndTheShell) {
    FakeBridgeEndpoint endpoint;
    auto bridge = StartBridge(endpoint);
    const qint64 shell = bridge->InterpreterPid();

    endpoint.sendResult = 0;
    Type(*bridge, "echo lost\r\n");
    ASSERT_TRUE(PumpUntil([&] { return endpoint.endedCount > 0; }));
    EXPECT_TRUE(endpoint.received.endsWith(text::kSendChunkFailed));
    EXPECT_TRUE(WaitUntilGone(shell));
}

TEST_F(DosBridgeTest, ShellClosingItsOutputEndsTheBridgeAndIsEnded) {
    FakeBridgeEndpoint endpoint;
    auto bridge = StartBridge(endpoint);
    const qint64 shell = bridge->InterpreterPid();

    Type(*bridge, "exec >&- 2>&-; sleep 30\r\n");
    ASSERT_TRUE(PumpUntil([&] { return endpoint.endedCount > 0; }));
    EXPECT_EQ(endpoint.received, QByteArray(text::kReadLengthZero));
    EXPECT_TRUE(WaitUntilGone(shell));
}

TEST_F(DosBridgeTest, SessionMayLetGoOfTheBridgeWhenItEnds) {
    FakeBridgeEndpoint endpoint;
    auto owned = StartBridge(endpoint);
    QPointer<DosBridge> bridge = owned.get();
    endpoint.onEnded = [&] { owned.release()->deleteLater(); };

    Type(*bridge, "exit\r\n");
    EXPECT_TRUE(PumpUntil([&] { return bridge.isNull(); }));
    EXPECT_EQ(endpoint.endedCount, 1);
}

TEST_F(DosBridgeTest, AnIdleShellCostsNoProcessorTime) {
    FakeBridgeEndpoint endpoint;
    auto bridge = StartBridge(endpoint);
    Type(*bridge, "echo idle\r\n");
    ASSERT_TRUE(WaitForText(endpoint, "idle\r\n"));

    const double seconds = ProcessorSecondsWhileIdle(500);
    // The test's own 10 ms wake-ups cost a little; a spinning bridge would cost 0.5 s.
    EXPECT_LT(seconds, 0.05);
}

}  // namespace
}  // namespace orvane
