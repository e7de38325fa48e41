// Starting the `dos` command interpreter: the interfaces the bridge uses (pipes, or a
// pseudo-terminal in terminal mode), and what a started interpreter hands over (its
// process, its two ends and its exit notification).
#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <utility>

namespace orvane {

// One file descriptor, closed exactly once: when the owner goes or Reset() is called.
class OwnedFd final {
public:
    OwnedFd() = default;
    explicit OwnedFd(int fd) : m_fd(fd) {}
    ~OwnedFd() { Reset(); }
    OwnedFd(OwnedFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept {
        if (this != &other) {
            Reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;

    int Get() const { return m_fd; }
    bool IsValid() const { return m_fd >= 0; }
    int Release() { return std::exchange(m_fd, -1); }
    void Reset(int fd = -1);

private:
    int m_fd = -1;
};

// A running interpreter as the server sees it. The interpreter's own pipe ends are closed
// in the server once it has started; only the server's ends are kept here.
struct InterpreterChild {
    pid_t pid = -1;  // also the id of its process group and session
    OwnedFd input;   // write end of the interpreter's standard input, non-blocking
    OwnedFd output;  // read end of its standard output and error, non-blocking
    OwnedFd exitFd;  // readable once the process has ended; invalid where unsupported
};

class InterpreterLauncher {
public:
    enum class Result { Started, PipeFailed, ProcessFailed };

    virtual ~InterpreterLauncher() = default;
    // Creates the two pipes and starts the interpreter on them. On failure nothing is left
    // open and `child` stays empty.
    virtual Result Launch(InterpreterChild& child) = 0;
};

// What the client told about its terminal. A size of 0 (or less) is not known.
struct TerminalRequest {
    QByteArray terminalType;
    int columns = 0;
    int rows = 0;
};

class TerminalLauncher {
public:
    virtual ~TerminalLauncher() = default;
    // Opens a pseudo-terminal and starts the login shell on it. On success `child.input`
    // and `child.output` are the terminal's master side (two descriptors of it, both
    // non-blocking and close-on-exec). On failure nothing is left open or running and
    // `child` stays empty: PipeFailed when no terminal could be had, ProcessFailed when the
    // shell could not be started.
    virtual InterpreterLauncher::Result Launch(InterpreterChild& child,
                                               const TerminalRequest& request) = 0;
};

}  // namespace orvane
