// Terminal input for passwords: echo off for the one line, and back on whatever happens.
#include "platform/TerminalInput.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace orvane {

namespace {

int g_quietFd = -1;
termios g_savedTerminal{};

constexpr int kRestoringSignals[] = {SIGINT, SIGTERM, SIGHUP};

// A signal that ends the program must not leave the terminal without echo.
void RestoreAndDie(int signalNumber) {
    if (g_quietFd >= 0) ::tcsetattr(g_quietFd, TCSANOW, &g_savedTerminal);
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

}  // namespace

LineRead ReadInputLine(int fd, QByteArray& line) {
    line.clear();
    bool anything = false;
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        anything = true;
        if (c == '\n') break;
        if (line.size() < kMaxInputLine) line.append(c);
    }
    if (line.endsWith('\r')) line.chop(1);
    return anything ? LineRead::Line : LineRead::EndOfInput;
}

LineRead ReadLineWithoutEcho(int fd, QByteArray& line) {
    termios saved{};
    if (::tcgetattr(fd, &saved) != 0) return ReadInputLine(fd, line);

    struct sigaction restore {};
    restore.sa_handler = RestoreAndDie;
    sigemptyset(&restore.sa_mask);
    struct sigaction previous[3];
    g_savedTerminal = saved;
    g_quietFd = fd;
    for (int i = 0; i < 3; ++i) ::sigaction(kRestoringSignals[i], &restore, &previous[i]);

    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(fd, TCSANOW, &quiet);
    const LineRead result = ReadInputLine(fd, line);
    ::tcsetattr(fd, TCSANOW, &saved);

    for (int i = 0; i < 3; ++i) ::sigaction(kRestoringSignals[i], &previous[i], nullptr);
    g_quietFd = -1;
    return result;
}

}  // namespace orvane
