// The `dos` bridge in terminal mode, and a client's interrupt on pipes too, against real
// shells and a fake session: what the shell sees of its terminal, what the client gets back,
// and that every bridge property the pipes have holds on a pseudo-terminal as well.
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <memory>

#include "DosBridgeFixture.h"
#include "FakeBridgeEndpoint.h"
#include "ProcessTree.h"
#include "ShellPrompt.h"
#include "TestEnvironment.h"
#include "platform/ChildReaper.h"
#include "platform/InterpreterProcess.h"
#include "platform/TerminalProcess.h"
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

// The shell has handed its terminal's foreground to the command it runs: a Ctrl-C from now
// on hits the command, not the shell that is still starting it.
bool WaitUntilCommandInForeground(qint64 shell) {
    return PumpUntil(
        [&] {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(shell));
            if (!stat.open(QIODevice::ReadOnly)) return false;
            const QByteArray text = stat.readAll();
            // After the name: state, parent, group, session, terminal, foreground group.
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            return fields.size() > 5 && fields[5].toLongLong() > 0 &&
                   fields[5].toLongLong() != shell;
        },
        15000);
}

class DosInterruptTest : public test::DosBridgeFixture<15000> {};

TEST_F(DosInterruptTest, InterruptEndsTheRunningCommandOverPipesAndTheShellGoesOn) {
    FakeBridgeEndpoint endpoint;
    DosBridge bridge(endpoint, m_launcher);
    bridge.Start();
    ASSERT_TRUE(bridge.IsRunning());
    EXPECT_FALSE(bridge.IsTerminal());

    Type(bridge, "echo \"start=$((1+1)).\"; sleep 100\r\n");
    ASSERT_TRUE(WaitForText(endpoint, "start=2."));
    // An interrupt that came before the shell started the command would leave it running.
    ASSERT_TRUE(PumpUntil([&] { return test::DescendantRuns(bridge.InterpreterPid(), "sleep", 1); },
                          15000));
    bridge.SetWindowSize(100, 40);  // pipes have no window: nothing happens
    bridge.Interrupt();
    Type(bridge, "echo \"after=$((40+2)).\"\r\n");
    EXPECT_TRUE(WaitForText(endpoint, "after=42.", 30000)) << endpoint.received.constData();
    EXPECT_TRUE(bridge.IsRunning());
    EXPECT_EQ(endpoint.endedCount, 0);

    Type(bridge, "exit\r\n");
    ASSERT_TRUE(PumpUntil([&] { return endpoint.endedCount > 0; }, 15000));
    bridge.Interrupt();  // after the end: nothing to interrupt, nothing hit
}

// A plain shell and a home of its own keep the account's start-up files out of the tests.
class DosTerminalTest : public DosInterruptTest {
protected:
    DosTerminalTest() : m_terminalLauncher(TestOptions("/bin/sh")) {}

    static PosixTerminalLauncher::Options TestOptions(const QByteArray& shell) {
        LoginAccount account = CurrentLoginAccount();
        account.shell = shell;
        account.home = test::MakeTempDir("home").toUtf8();
        PosixTerminalLauncher::Options options;
        options.account = [account] { return account; };
        return options;
    }

    // Starts a terminal bridge and waits for the shell's first prompt; what the client saw
    // so far is then forgotten.
    std::unique_ptr<DosBridge> StartTerminal(FakeBridgeEndpoint& endpoint,
                                             const QByteArray& type = "vt100", int columns = 80,
                                             int rows = 24) {
        auto bridge = std::make_unique<DosBridge>(endpoint, m_launcher, m_terminalLauncher);
        bridge->StartTerminal(type, columns, rows);
        EXPECT_TRUE(PumpUntil([&] { return EndsWithShellPrompt(endpoint.received); }, 15000))
            << endpoint.received.constData();
        endpoint.received.clear();
        return bridge;
    }

    PosixTerminalLauncher m_terminalLauncher;
};

TEST_F(DosTerminalTest, ShellSeesATerminalOfTheClientsTypeAndSizeAndFollowsResizes) {
    FakeBridgeEndpoint endpoint;
    auto bridge = StartTerminal(endpoint, "XTERM-256COLOR", 100, 30);
    ASSERT_TRUE(bridge->IsRunning());
    EXPECT_TRUE(bridge->IsTerminal());

    // A bare CR is Enter: it reaches the terminal as typed and the terminal ends the line.
    Type(*bridge, "tty; stty size; echo \"term=$TERM.\"\r");
    ASSERT_TRUE(WaitForText(endpoint, "term=xterm-256color.\r\n")) << endpoint.received.constData();
    EXPECT_TRUE(QRegularExpression("\r\n/dev/pts/\\d+\r\n30 100\r\n")
                    .match(QString::fromUtf8(endpoint.received))
                    .hasMatch())
        << endpoint.received.constData();
    // The terminal echoed the typing once, and its line ends were not doubled by the bridge.
    EXPECT_EQ(endpoint.received.count("tty; stty size"), 1);
    EXPECT_FALSE(endpoint.received.contains("\r\r\n"));

    bridge->SetWindowSize(132, 0);  // 0: that dimension is not known, it stays
    Type(*bridge, "stty size\r");
    // Typed ahead of the prompt or after it: the answer may share the prompt's line.
    EXPECT_TRUE(WaitForText(endpoint, "30 132\r\n")) << endpoint.received.constData();
}

TEST_F(DosTerminalTest, CtrlCTypedOrAskedForEndsTheRunningCommandAndTheShellGoesOn) {
    FakeBridgeEndpoint endpoint;
    auto bridge = StartTerminal(endpoint);

    Type(*bridge, "sleep 100\r");
    ASSERT_TRUE(WaitUntilCommandInForeground(bridge->InterpreterPid()));
    Type(*bridge, "\x03");  // the terminal's own interrupt character
    Type(*bridge, "echo \"after=$((40+2)).\"\r");
    ASSERT_TRUE(WaitForText(endpoint, "after=42.", 30000)) << endpoint.received.constData();

    Type(*bridge, "sleep 100\r");
    ASSERT_TRUE(WaitUntilCommandInForeground(bridge->InterpreterPid()));
    bridge->Interrupt();  // a client's Interrupt Process
    Type(*bridge, "echo \"after=$((40+3)).\"\r");
    EXPECT_TRUE(WaitForText(endpoint, "after=43.", 30000)) << endpoint.received.constData();
    EXPECT_TRUE(bridge->IsRunning());
    EXPECT_EQ(endpoint.endedCount, 0);
}

TEST_F(DosTerminalTest, ExitShowsTheLastOutputThenTheClosingTextOnce) {
    FakeBridgeEndpoint endpoint;
    auto bridge = StartTerminal(endpoint);
    const qint64 shell = bridge->InterpreterPid();

    Type(*bridge, "echo \"bye=$((6*7)).\"; exit\r");
    ASSERT_TRUE(PumpUntil([&] { return endpoint.endedCount > 0; }, 15000));
    EXPECT_TRUE(endpoint.received.endsWith("bye=42.\r\n" + QByteArray(text::kNormalExit)))
        << endpoint.received.constData();
    EXPECT_TRUE(ProcessGone(shell));
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(endpoint.endedCount, 1);
}

TEST_F(DosTerminalTest, ClientLeavingEndsTheShellItsCommandAndItsBackgroundJobs) {
    const int before = OpenDescriptorCount();
    FakeBridgeEndpoint endpoint;
    auto bridge = StartTerminal(endpoint);
    const qint64 shell = bridge->InterpreterPid();

    // A job-control shell puts the background job in a process group of its own.
    Type(*bridge, "sleep 300 & echo \"job=$!.\"\r");
    ASSERT_TRUE(WaitForText(endpoint, ".\r\n"));
    const QRegularExpressionMatch job =
        QRegularExpression("job=(\\d+)\\.").match(QString::fromUtf8(endpoint.received));
    ASSERT_TRUE(job.hasMatch()) << endpoint.received.constData();
    const qint64 jobPid = job.captured(1).toLongLong();
    Type(*bridge, "trap '' HUP; sleep 200\r");

    const QByteArray sentBefore = endpoint.received;
    bridge->ClientClosed();
    EXPECT_FALSE(bridge->IsRunning());
    EXPECT_TRUE(WaitUntilGone(shell));
    EXPECT_TRUE(WaitUntilGone(jobPid));
    EXPECT_EQ(endpoint.endedCount, 0);

    bridge.reset();
    EXPECT_TRUE(PumpUntil([] { return ChildReaper::Instance().PendingCount() == 0; }, 15000));
    PumpUntil([] { return false; }, 50);  // lets deferred deletions run
    EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST_F(DosTerminalTest, FiveMegabytesArriveWholeWhileTheSessionBufferFillsAndDrains) {
    FakeBridgeEndpoint endpoint;
    endpoint.fullAfter = 256 * 1024;
    auto bridge = StartTerminal(endpoint);

    Type(*bridge, "head -c 5000000 /dev/zero | tr '\\0' x; echo; echo \"DONE$((1))\"\r");
    ASSERT_TRUE(PumpUntil(
        [&] {
            if (endpoint.full) {
                endpoint.Drain();
                bridge->ResumeOutput();
            }
            return endpoint.received.contains("DONE1\r\n");
        },
        30000));
    // After the terminal's echo of the command line, which has an x of its own.
    const QByteArray output = endpoint.received.mid(endpoint.received.indexOf("\r\n"));
    EXPECT_EQ(output.count('x'), 5000000);
    EXPECT_GT(endpoint.timesFull, 5);
    EXPECT_EQ(endpoint.sendsWhileFull, 0);
}

TEST_F(DosTerminalTest, AFloodingShellForwardsOneTerminalReadPerTurnAndIdleCostsNothing) {
    FakeBridgeEndpoint endpoint;
    auto bridge = StartTerminal(endpoint);

    Type(*bridge, "echo \"idle=$((1)).\"\r");
    ASSERT_TRUE(WaitForText(endpoint, "idle=1."));
    const double seconds = ProcessorSecondsWhileIdle(500);
    // The test's own 10 ms wake-ups cost a little; a spinning bridge would cost 0.5 s.
    EXPECT_LT(seconds, 0.05);

    Type(*bridge, "yes orvane-fairness-line-0123456789\r");
    QTimer tick;  // the loop never waits long for a turn
    tick.start(10);
    qsizetype most = 0, total = 0;
    for (int turn = 0; turn < 400 && total < 16 * 1024 * 1024; ++turn) {
        const qsizetype before = endpoint.received.size();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        most = std::max(most, endpoint.received.size() - before);
        total += endpoint.received.size() - before;
        endpoint.received.clear();
    }
    // One read of the terminal per turn: what it holds then, a few kilobytes, more on a slow
    // (instrumented) build, but less than the 64 KiB read buffer that gathering filled, turn
    // after turn. Gathering made keystrokes wait ten times longer behind floods.
    EXPECT_GT(most, 0) << "the shell's output never came";
    EXPECT_LT(most, 64 * 1024);
}

TEST_F(DosTerminalTest, ShellThatCannotStartSaysSoAndLeavesNothingOpen) {
    PosixTerminalLauncher failing(TestOptions("/nonexistent/shell"));
    const int before = OpenDescriptorCount();
    FakeBridgeEndpoint endpoint;
    DosBridge bridge(endpoint, m_launcher, failing);
    bridge.StartTerminal("vt100", 80, 24);
    EXPECT_EQ(endpoint.endedCount, 1);
    EXPECT_EQ(endpoint.received, QByteArray(text::kCreateProcessFailed));
    EXPECT_FALSE(bridge.IsRunning());
    EXPECT_FALSE(bridge.IsTerminal());
    EXPECT_EQ(OpenDescriptorCount(), before);
}

}  // namespace
}  // namespace orvane
