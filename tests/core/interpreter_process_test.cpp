// The interpreter as started on Linux: its own session, the server's environment and
// directory, one pipe for both output streams, and server ends that never block.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>

#include "platform/InterpreterProcess.h"

namespace orvane {
namespace {

QByteArray ReadUntilEnd(int fd) {
    QByteArray all;
    char buffer[4096];
    for (int turns = 0; turns < 1000; ++turns) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 3000) <= 0) break;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        all.append(buffer, n);
    }
    return all;
}

TEST(InterpreterProcessTest, RunsInItsOwnSessionWithTheServersEnvironmentAndDirectory) {
    ::setenv("ORVANE_BRIDGE_PROBE", "probe-value", 1);
    PosixInterpreterLauncher::Options options;
    options.arguments = {"-c",
                         "echo \"$ORVANE_BRIDGE_PROBE\"; pwd; echo to-stderr >&2; read line; "
                         "echo \"got $line\""};
    PosixInterpreterLauncher launcher(options);
    InterpreterChild child;
    ASSERT_EQ(launcher.Launch(child), InterpreterLauncher::Result::Started);

    EXPECT_EQ(::getsid(child.pid), child.pid);
    for (int fd : {child.input.Get(), child.output.Get(), child.exitFd.Get()}) {
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    }
    EXPECT_TRUE(::fcntl(child.input.Get(), F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(::fcntl(child.output.Get(), F_GETFL) & O_NONBLOCK);

    ASSERT_EQ(::write(child.input.Get(), "typed\n", 6), 6);
    const QByteArray output = ReadUntilEnd(child.output.Get());
    const QByteArray expected =
        "probe-value\n" + QDir::currentPath().toUtf8() + "\nto-stderr\ngot typed\n";
    EXPECT_EQ(output, expected);

    pollfd exited{child.exitFd.Get(), POLLIN, 0};
    EXPECT_EQ(::poll(&exited, 1, 3000), 1);
    int status = -1;
    EXPECT_EQ(::waitpid(child.pid, &status, 0), child.pid);
    EXPECT_TRUE(WIFEXITED(status));
}

}  // namespace
}  // namespace orvane
