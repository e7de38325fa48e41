// The shell on a pseudo-terminal as terminal mode starts it: a real terminal of the size and
// type the client gave, a login environment, Ctrl-C where a terminal would send it, and
// nothing left running or open afterwards.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <functional>

#include "ProcessTree.h"
#include "TestEnvironment.h"
#include "platform/InterpreterProcess.h"
#include "platform/InterpreterSignals.h"
#include "platform/TerminalProcess.h"

namespace orvane {
namespace {

int OpenDescriptorCount() {
    return static_cast<int>(QDir("/proc/self/fd").entryList(QDir::Files | QDir::System).size());
}

// Gone: no such process, or a zombie that is not ours to reap.
bool ProcessGone(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 && fields[0] == "Z" && fields[1].toLongLong() != getpid();
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        ::usleep(10000);
    }
    return true;
}

// A started interpreter and everything it wrote so far.
class RunningShell final {
public:
    InterpreterChild child;
    QByteArray output;
    bool ended = false;  // the terminal reported its end (every holder of it is gone)

    void Type(const QByteArray& text) const {
        ASSERT_EQ(::write(child.input.Get(), text.constData(), text.size()), text.size());
    }

    // Reads until `text` has appeared or the output ended; generous, the machine may be busy.
    bool WaitForOutput(const QByteArray& text, int timeoutMs = 30000) {
        QElapsedTimer clock;
        clock.start();
        while (!output.contains(text)) {
            if (ended || clock.elapsed() > timeoutMs) return false;
            ReadSome(100);
        }
        return true;
    }

    bool WaitForMatch(const QRegularExpression& pattern, QString* match) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 30000 && !ended) {
            const QRegularExpressionMatch found = pattern.match(QString::fromUtf8(output));
            if (found.hasMatch()) {
                *match = found.captured(1);
                return true;
            }
            ReadSome(100);
        }
        return false;
    }

    void ReadToEnd() {
        QElapsedTimer clock;
        clock.start();
        while (!ended && clock.elapsed() < 30000) ReadSome(100);
    }

    // The shell leaves the terminal's foreground to the command it runs, and takes it back.
    bool WaitForForeground(bool shellItself) const {
        return WaitFor([&] {
            const pid_t foreground = ::tcgetpgrp(child.input.Get());
            return foreground > 0 && (foreground == child.pid) == shellItself;
        });
    }

    int Reap() const {
        int status = -1;
        return ::waitpid(child.pid, &status, 0) == child.pid ? status : -1;
    }

private:
    void ReadSome(int waitMs) {
        pollfd pfd{child.output.Get(), POLLIN, 0};
        if (::poll(&pfd, 1, waitMs) <= 0) return;
        char buffer[4096];
        const ssize_t got = ::read(child.output.Get(), buffer, sizeof buffer);
        if (got > 0) {
            output.append(buffer, got);
        } else if (got == 0 || errno != EAGAIN) {
            ended = true;  // a master side reads EIO once the last holder of the terminal left
        }
    }
};

class TerminalProcessTest : public ::testing::Test {
protected:
    // A plain shell and a home of its own keep the account's own start-up files out.
    static LoginAccount TestAccount(const QByteArray& shell = "/bin/sh") {
        LoginAccount account = CurrentLoginAccount();
        account.shell = shell;
        account.home = test::MakeTempDir("home").toUtf8();
        return account;
    }

    static PosixTerminalLauncher LauncherFor(const LoginAccount& account) {
        PosixTerminalLauncher::Options options;
        options.account = [account] { return account; };
        return PosixTerminalLauncher(options);
    }
};

TEST_F(TerminalProcessTest, ShellRunsOnATerminalOfTheClientsSizeAndTypeAndFollowsResizes) {
    const LoginAccount account = TestAccount();
    PosixTerminalLauncher launcher = LauncherFor(account);
    RunningShell shell;
    ASSERT_EQ(launcher.Launch(shell.child, {"XTERM-256color", 100, 30}),
              InterpreterLauncher::Result::Started);

    for (int fd : {shell.child.input.Get(), shell.child.output.Get(), shell.child.exitFd.Get()}) {
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    }
    EXPECT_TRUE(::fcntl(shell.child.output.Get(), F_GETFL) & O_NONBLOCK);
    // The shell leads its own session, and the terminal is that session's terminal.
    EXPECT_EQ(::getsid(shell.child.pid), shell.child.pid);
    EXPECT_EQ(::tcgetsid(shell.child.input.Get()), shell.child.pid);

    shell.Type("tty; stty size; echo \"term=$TERM.\"; echo \"cwd=$(pwd).\"; echo \"zero=$0.\"\n");
    QString device;
    ASSERT_TRUE(shell.WaitForMatch(QRegularExpression("(/dev/pts/\\d+)\r\n"), &device))
        << shell.output.constData();
    ASSERT_TRUE(shell.WaitForOutput("zero=-sh.\r\n")) << shell.output.constData();
    EXPECT_TRUE(shell.output.contains("\r\n30 100\r\n")) << shell.output.constData();
    EXPECT_TRUE(shell.output.contains("term=xterm-256color.\r\n"));
    EXPECT_TRUE(shell.output.contains("cwd=" + account.home + ".\r\n"));

    SetTerminalWindowSize(shell.child.input.Get(), 132, 0);  // the rows stay as they were
    shell.Type("stty size\n");
    // Typed ahead of the prompt or after it: the answer may share the prompt's line.
    EXPECT_TRUE(shell.WaitForOutput("30 132\r\n")) << shell.output.constData();

    shell.Type("exit\n");
    shell.ReadToEnd();
    EXPECT_TRUE(shell.ended);
    const int status = shell.Reap();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(TerminalProcessTest, LoginEnvironmentHoldsTheAccountAndNothingOfTheServers) {
    const char* leaking[] = {"DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS", "TMUX",
                             "ORVANE_PROBE"};
    for (const char* name : leaking) ::setenv(name, "from-the-server", 1);
    ::setenv("LANG", "C.UTF-8", 1);

    // With env as the "shell" the started program prints exactly what it was given.
    LoginAccount account = TestAccount("/usr/bin/env");
    account.name = "someone";
    account.uid = 1000;
    PosixTerminalLauncher launcher = LauncherFor(account);
    RunningShell shell;
    ASSERT_EQ(launcher.Launch(shell.child, {"bad type;rm", 0, 0}),
              InterpreterLauncher::Result::Started);
    shell.ReadToEnd();
    shell.Reap();
    for (const char* name : leaking) ::unsetenv(name);

    QSet<QByteArray> lines;
    for (const QByteArray& line : shell.output.split('\n')) {
        if (!line.trimmed().isEmpty()) lines.insert(line.trimmed());
    }
    const QSet<QByteArray> expected = {
        "HOME=" + account.home,
        "USER=someone",
        "LOGNAME=someone",
        "SHELL=/usr/bin/env",
        "PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games",
        "LANG=C.UTF-8",
        "TERM=vt100"};
    EXPECT_EQ(lines, expected) << shell.output.constData();
}

TEST_F(TerminalProcessTest, AccountsOwnLoginShellStartsInteractiveInItsHome) {
    const LoginAccount account = CurrentLoginAccount();
    PosixTerminalLauncher launcher;
    RunningShell shell;
    ASSERT_EQ(launcher.Launch(shell.child, {"vt100", 80, 24}),
              InterpreterLauncher::Result::Started);
    const QByteArray name = account.shell.mid(account.shell.lastIndexOf('/') + 1);
    // The marker is computed, so that the terminal's echo of the line does not match it.
    shell.Type(
        "echo \"zero=$0.\"; echo \"home=$HOME.\"; case $- in *i*) echo \"inter$((1))\";; esac\n");
    EXPECT_TRUE(shell.WaitForOutput("inter1")) << shell.output.constData();
    EXPECT_TRUE(shell.output.contains("zero=-" + name + ".\r\n")) << shell.output.constData();
    EXPECT_TRUE(shell.output.contains("home=" + account.home + ".\r\n"));
    shell.Type("exit\n");
    shell.ReadToEnd();
    shell.Reap();
}

TEST_F(TerminalProcessTest, CtrlCAndAnInterruptEndTheRunningCommandAndTheSessionEndsWhole) {
    PosixTerminalLauncher launcher = LauncherFor(TestAccount());
    RunningShell shell;
    ASSERT_EQ(launcher.Launch(shell.child, {}), InterpreterLauncher::Result::Started);

    // Ctrl-C typed at the terminal.
    shell.Type("sleep 100\n");
    ASSERT_TRUE(shell.WaitForForeground(false));
    const pid_t firstSleep = ::tcgetpgrp(shell.child.input.Get());
    shell.Type("\x03");
    ASSERT_TRUE(shell.WaitForForeground(true));
    EXPECT_TRUE(WaitFor([&] { return ProcessGone(firstSleep); }));

    // The interrupt a client asks for hits the same group.
    shell.Type("sleep 100\n");
    ASSERT_TRUE(shell.WaitForForeground(false));
    const pid_t secondSleep = ::tcgetpgrp(shell.child.input.Get());
    EXPECT_TRUE(InterruptInterpreter(shell.child.pid, shell.child.input.Get()));
    ASSERT_TRUE(shell.WaitForForeground(true));
    EXPECT_TRUE(WaitFor([&] { return ProcessGone(secondSleep); }));
    shell.Type("echo \"after=$((40+2)).\"\n");
    EXPECT_TRUE(shell.WaitForOutput("after=42.")) << shell.output.constData();

    // A background job has a process group of its own; ending the session ends it too.
    shell.Type("sleep 300 & echo \"job=$!.\"\n");
    QString job;
    ASSERT_TRUE(shell.WaitForMatch(QRegularExpression("job=(\\d+)\\."), &job));
    EXPECT_NE(::getpgid(job.toInt()), shell.child.pid);
    EXPECT_GE(SignalSession(shell.child.pid, SIGKILL), 2);
    const int status = shell.Reap();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_TRUE(WaitFor([&] { return ProcessGone(job.toInt()); }));
}

TEST_F(TerminalProcessTest, InterruptReachesACommandOverPipesToo) {
    PosixInterpreterLauncher launcher;
    InterpreterChild child;
    ASSERT_EQ(launcher.Launch(child), InterpreterLauncher::Result::Started);
    RunningShell shell;
    shell.child = std::move(child);

    shell.Type("echo \"start=$((1+1)).\"; sleep 100\n");
    ASSERT_TRUE(shell.WaitForOutput("start=2."));
    // An interrupt that came before the shell started the command would leave it running.
    ASSERT_TRUE(WaitFor([&] { return test::DescendantRuns(shell.child.pid, "sleep", 1); }));
    EXPECT_TRUE(InterruptInterpreter(shell.child.pid));
    shell.Type("echo \"after=$((40+2)).\"\n");
    EXPECT_TRUE(shell.WaitForOutput("after=42.", 20000)) << shell.output.constData();
    shell.child.input.Reset();  // end of input: the shell leaves
    shell.ReadToEnd();
    shell.Reap();
}

TEST_F(TerminalProcessTest, ShellThatCannotStartLeavesNothingOpenOrRunning) {
    PosixTerminalLauncher launcher = LauncherFor(TestAccount("/nonexistent/shell"));
    const int before = OpenDescriptorCount();
    InterpreterChild child;
    EXPECT_EQ(launcher.Launch(child, {"xterm", 80, 24}),
              InterpreterLauncher::Result::ProcessFailed);
    EXPECT_EQ(child.pid, -1);
    EXPECT_FALSE(child.input.IsValid() || child.output.IsValid() || child.exitFd.IsValid());
    EXPECT_EQ(OpenDescriptorCount(), before);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // the failed child was reaped
    EXPECT_EQ(errno, ECHILD);
}

TEST(TerminalTypeTest, OnlyPlainTerminalNamesReachTheEnvironment) {
    EXPECT_EQ(TerminalTypeForEnvironment("xterm-256color"), "xterm-256color");
    EXPECT_EQ(TerminalTypeForEnvironment("XTERM"), "xterm");
    EXPECT_EQ(TerminalTypeForEnvironment("rxvt-unicode+x_1.2"), "rxvt-unicode+x_1.2");
    EXPECT_EQ(TerminalTypeForEnvironment(QByteArray(40, 'a')), QByteArray(40, 'a'));
    for (const QByteArray& bad :
         {QByteArray(), QByteArray(41, 'a'), QByteArray("x term"), QByteArray("x;rm -rf"),
          QByteArray("a\0b", 3), QByteArray("../../etc"), QByteArray("caf\xc3\xa9")}) {
        EXPECT_EQ(TerminalTypeForEnvironment(bad), "vt100") << bad.constData();
    }
}

}  // namespace
}  // namespace orvane
