// Starting the `dos` command interpreter: the interface the bridge uses, and what a started
// interpreter hands over (its process, its two pipe ends and its exit notification).
#pragma once

#include <sys/types.h>

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

}  // namespace orvane
