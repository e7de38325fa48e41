// The session walk opens a process descriptor before it reads the process's session, so a
// process id reused between the two can never receive the signal.
#include "platform/InterpreterSignals.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/InterpreterLauncher.h"

namespace orvane {

namespace {

// The session id field of /proc/<pid>/stat, or -1. The command name may hold spaces and
// parentheses, so fields are counted from the last ')'.
pid_t SessionOf(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    OwnedFd file(::open(path, O_RDONLY | O_CLOEXEC));
    if (!file.IsValid()) return -1;
    char text[1024];
    const ssize_t got = ::read(file.Get(), text, sizeof text - 1);
    if (got <= 0) return -1;
    text[got] = '\0';
    const char* afterName = std::strrchr(text, ')');
    if (!afterName) return -1;
    int ppid = 0, pgrp = 0, session = 0;
    char state = 0;
    if (std::sscanf(afterName + 1, " %c %d %d %d", &state, &ppid, &pgrp, &session) != 4) return -1;
    return session;
}

}  // namespace

bool InterruptInterpreter(pid_t interpreterPid, int terminalFd) {
    if (terminalFd >= 0) {
        const pid_t foreground = ::tcgetpgrp(terminalFd);
        if (foreground > 0 && ::kill(-foreground, SIGINT) == 0) return true;
    }
    if (interpreterPid <= 0) return false;
    return ::kill(-interpreterPid, SIGINT) == 0;
}

int SignalSession(pid_t sessionId, int signal) {
    if (sessionId <= 0) return 0;
    DIR* proc = ::opendir("/proc");
    if (!proc) return ::kill(-sessionId, signal) == 0 ? 1 : 0;
    int signalled = 0;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        // Cheap look first; the descriptor then pins the process that is checked again.
        if (SessionOf(static_cast<pid_t>(pid)) != sessionId) continue;
        OwnedFd process(static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0)));
        if (!process.IsValid() || SessionOf(static_cast<pid_t>(pid)) != sessionId) continue;
        if (::syscall(SYS_pidfd_send_signal, process.Get(), signal, nullptr, 0) == 0) ++signalled;
    }
    ::closedir(proc);
    return signalled;
}

}  // namespace orvane
