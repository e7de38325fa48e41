// What the console server stands on: output that never blocks, signals as events, and the
// display probe that keeps a stale DISPLAY from ending the program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <cerrno>

#include "platform/ConsoleOutput.h"
#include "platform/DisplayProbe.h"
#include "platform/ExitSignals.h"
#include "platform/ListenFailure.h"

namespace orvane {
namespace {

QByteArray DrainPipe(int fd) {
    QByteArray all;
    char buffer[65536];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) all.append(buffer, n);
    return all;
}

TEST(ConsoleOutput, AnUnreadPipeNeverBlocksAndTheLostLinesAreCountedOnceItFlows) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);  // only the test's reading end
    const QByteArray line = QByteArray(99, 'x') + '\n';
    {
        ConsoleOutput output(fds[1], 64 * 1024);
        // Far more than the pipe and the buffer hold together: a blocking write would hang.
        for (int i = 0; i < 5000; ++i) output.WriteLine(line);
        EXPECT_LE(output.Buffered(), 64 * 1024);
        const qint64 dropped = output.Dropped();
        EXPECT_GT(dropped, 0);

        // The reader comes back: everything held goes out, then the count, then new lines.
        QByteArray received;
        for (int round = 0; round < 1000 && !output.Flush(); ++round) {
            received += DrainPipe(fds[0]);
            QCoreApplication::processEvents();
        }
        received += DrainPipe(fds[0]);
        output.WriteLine("after\n");
        received += DrainPipe(fds[0]);

        EXPECT_EQ(received.count(line), 5000 - dropped);
        EXPECT_TRUE(received.endsWith(ConsoleOutput::DroppedLine(dropped) + "after\n"));
        EXPECT_EQ(received.count("dropped"), 1);
    }
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(ConsoleOutput, AClosedPipeEndsTheOutputButNotTheServer) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::close(fds[0]);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    ConsoleOutput output(fds[1]);
    output.WriteLine("nobody reads this\n");
    output.WriteLine("nor this\n");
    EXPECT_EQ(output.Buffered(), 0);
    ::sigaction(SIGPIPE, &previous, nullptr);
    ::close(fds[1]);
}

TEST(ExitSignals, TermIntAndHupArriveAsEventsAndTheirDefaultsComeBack) {
    {
        ExitSignals watcher;
        QSignalSpy spy(&watcher, &ExitSignals::received);
        for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) ::raise(signalNumber);
        for (int i = 0; i < 100 && spy.count() < 3; ++i) spy.wait(100);
        ASSERT_EQ(spy.count(), 3);
        EXPECT_EQ(spy[0][0].toInt(), SIGTERM);
        EXPECT_EQ(spy[1][0].toInt(), SIGINT);
        EXPECT_EQ(spy[2][0].toInt(), SIGHUP);
    }
    struct sigaction now {};
    ::sigaction(SIGHUP, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

TEST(DisplayProbe, ADisplayWithoutAServerOrWithABadNameIsUnusable) {
    // No server has this display's socket. Its TCP fallback on localhost would be port
    // 6000 + 59536, which wraps round to port 0: nothing else on the machine is touched.
    const DisplayProbeResult missing = ProbeXDisplay(":59536");
    EXPECT_FALSE(missing.usable);
    EXPECT_FALSE(missing.reason.isEmpty());
    EXPECT_FALSE(ProbeXDisplay("no display name").usable);
}

TEST(ListenFailure, TheLineNamesThePortAndTheRealReason) {
    EXPECT_EQ(ListenFailureLine(23, EACCES),
              QString::fromUtf8("Port 23: permission denied \u2014 ports below 1024 need root or "
                                "CAP_NET_BIND_SERVICE"));
    EXPECT_EQ(ListenFailureLine(2323, EACCES), QStringLiteral("Port 2323: permission denied"));
    EXPECT_EQ(ListenFailureLine(2323, EADDRINUSE),
              QStringLiteral("Port 2323: address already in use"));
    EXPECT_EQ(ListenFailureLine(2323, EMFILE), QStringLiteral("Port 2323: too many open files"));
}

}  // namespace
}  // namespace orvane
