// Starts the interpreter with posix_spawn, so that a failed exec is reported to the caller
// instead of surfacing later as an interpreter that exits at once.
#include "platform/InterpreterProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/Logging.h"

extern char** environ;

namespace orvane {

void OwnedFd::Reset(int fd) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
}

namespace {

// The pipe's default 64 KiB makes the interpreter wait on the bridge far more often than
// needed; a larger one is only a wish, the system may cap it.
constexpr int kOutputPipeSize = 1 << 20;

bool CreatePipe(const std::function<int(int*, int)>& call, OwnedFd& readEnd, OwnedFd& writeEnd) {
    int fds[2] = {-1, -1};
    if (call(fds, O_CLOEXEC) != 0) return false;
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
    return true;
}

void SetNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

bool Spawn(const PosixInterpreterLauncher::Options& options, int stdinFd, int stdoutFd,
           pid_t* pid) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }

    // The server ignores SIGPIPE and Qt may block signals; the interpreter and its
    // commands must start with the ordinary dispositions (`yes | head` has to end quietly).
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGHUP);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGCHLD);
    sigset_t emptyMask;
    sigemptyset(&emptyMask);

    bool ok = posix_spawn_file_actions_adddup2(&actions, stdinFd, STDIN_FILENO) == 0 &&
              posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO) == 0 &&
              posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDERR_FILENO) == 0 &&
              posix_spawnattr_setsigdefault(&attributes, &defaults) == 0 &&
              posix_spawnattr_setsigmask(&attributes, &emptyMask) == 0 &&
              posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF |
                                                        POSIX_SPAWN_SETSIGMASK) == 0;
    if (ok) {
        std::vector<char*> argv;
        QByteArray program = options.program;
        QList<QByteArray> arguments = options.arguments;
        argv.push_back(program.data());
        for (QByteArray& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        ok =
            posix_spawn(pid, program.constData(), &actions, &attributes, argv.data(), environ) == 0;
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return ok;
}

}  // namespace

PosixInterpreterLauncher::PosixInterpreterLauncher() : PosixInterpreterLauncher(Options{}) {}

PosixInterpreterLauncher::PosixInterpreterLauncher(Options options)
    : m_options(std::move(options)) {
    if (!m_options.createPipe)
        m_options.createPipe = [](int* fds, int flags) { return ::pipe2(fds, flags); };
}

InterpreterLauncher::Result PosixInterpreterLauncher::Launch(InterpreterChild& child) {
    // Every end lives in an OwnedFd from the moment it exists, so each failure path below
    // closes what was already opened simply by returning.
    OwnedFd inputRead, inputWrite, outputRead, outputWrite;
    if (!CreatePipe(m_options.createPipe, inputRead, inputWrite)) return Result::PipeFailed;
    if (!CreatePipe(m_options.createPipe, outputRead, outputWrite)) return Result::PipeFailed;
    if (::fcntl(outputWrite.Get(), F_SETPIPE_SZ, kOutputPipeSize) < 0) {
        qCDebug(lcPlatform, "interpreter pipe keeps its size: %s", std::strerror(errno));
    }

    pid_t pid = -1;
    if (!Spawn(m_options, inputRead.Get(), outputWrite.Get(), &pid)) {
        return Result::ProcessFailed;
    }

    SetNonBlocking(inputWrite.Get());
    SetNonBlocking(outputRead.Get());
    child.pid = pid;
    child.input = std::move(inputWrite);
    child.output = std::move(outputRead);
    child.exitFd.Reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    return Result::Started;
}

}  // namespace orvane
