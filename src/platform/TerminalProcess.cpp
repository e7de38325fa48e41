// Starts the login shell with fork and exec: the child has to become a session leader and
// take the terminal as its controlling terminal, which a spawn cannot do in order. Between
// the fork and the exec the child only makes system calls (the server has other threads);
// everything it needs is prepared before the fork.
#include "platform/TerminalProcess.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QByteArrayList>
#include <algorithm>
#include <cctype>
#include <vector>

namespace orvane {

namespace {

constexpr int kMaxTerminalTypeLength = 40;
constexpr const char* kDefaultTerminalType = "vt100";
constexpr int kDefaultColumns = 80;
constexpr int kDefaultRows = 24;
constexpr int kMaxWindowDimension = 0xFFFF;  // what the kernel's window size can hold
// The search paths a login on this system gives, for the administrator and for others.
constexpr const char* kRootPath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
constexpr const char* kUserPath = "/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games";

void SetNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Strings for the exec, kept alive in one place; the pointers are taken only after the
// last string was added.
struct ExecStrings {
    QByteArrayList storage;
    std::vector<char*> argv;
    std::vector<char*> envp;
};

ExecStrings PrepareExec(const LoginAccount& account, const TerminalRequest& request) {
    ExecStrings strings;
    // A leading '-' in the name makes the shell a login shell: it reads the system's and
    // the account's profile, as at a console login. On a terminal it is interactive.
    const qsizetype slash = account.shell.lastIndexOf('/');
    strings.storage.append('-' + account.shell.mid(slash + 1));

    strings.storage.append("HOME=" + account.home);
    strings.storage.append("USER=" + account.name);
    strings.storage.append("LOGNAME=" + account.name);
    strings.storage.append("SHELL=" + account.shell);
    strings.storage.append(QByteArray("PATH=") + (account.uid == 0 ? kRootPath : kUserPath));
    if (const char* lang = ::getenv("LANG")) strings.storage.append(QByteArray("LANG=") + lang);
    strings.storage.append("TERM=" + TerminalTypeForEnvironment(request.terminalType));

    strings.argv = {strings.storage[0].data(), nullptr};
    for (qsizetype i = 1; i < strings.storage.size(); ++i)
        strings.envp.push_back(strings.storage[i].data());
    strings.envp.push_back(nullptr);
    return strings;
}

// The kernel's defaults for a new terminal, with the input taken as UTF-8 so that an erase
// removes a whole character.
void ConfigureTerminal(int terminalFd, const TerminalRequest& request) {
    termios modes = {};
    if (::tcgetattr(terminalFd, &modes) == 0) {
        modes.c_iflag |= IUTF8;
        ::tcsetattr(terminalFd, TCSANOW, &modes);
    }
    winsize size = {};
    size.ws_col = static_cast<unsigned short>(kDefaultColumns);
    size.ws_row = static_cast<unsigned short>(kDefaultRows);
    ::ioctl(terminalFd, TIOCSWINSZ, &size);
    SetTerminalWindowSize(terminalFd, request.columns, request.rows);
}

// In the child, between fork and exec: system calls only. Never returns.
[[noreturn]] void RunShell(int terminalFd, int errorFd, const char* home, const char* shell,
                           char* const argv[], char* const envp[]) {
    // Dispositions the server set (SIGPIPE ignored, Qt's handlers) do not carry over.
    struct sigaction defaults = {};
    defaults.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &defaults, nullptr);
    sigset_t none;
    sigemptyset(&none);

    int failure = 0;
    if (::setsid() < 0 || ::ioctl(terminalFd, TIOCSCTTY, 0) < 0 ||
        ::dup2(terminalFd, STDIN_FILENO) < 0 || ::dup2(terminalFd, STDOUT_FILENO) < 0 ||
        ::dup2(terminalFd, STDERR_FILENO) < 0) {
        failure = errno;
    } else {
        if (::chdir(home) != 0 && ::chdir("/") != 0) {
            // Nowhere to stand: the shell starts where the server stands.
        }
        // Descriptors the server opened without close-on-exec stay with the server.
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(shell, argv, envp);
        failure = errno;
    }
    while (::write(errorFd, &failure, sizeof failure) < 0 && errno == EINTR) {
    }
    ::_exit(127);
}

}  // namespace

LoginAccount CurrentLoginAccount() {
    LoginAccount account;
    account.uid = ::getuid();
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry = {};
    passwd* found = nullptr;
    while (::getpwuid_r(account.uid, &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (found) {
        account.name = found->pw_name;
        account.home = found->pw_dir;
        account.shell = found->pw_shell;
    } else {
        account.name = QByteArray::number(account.uid);
    }
    if (account.home.isEmpty()) account.home = "/";
    if (account.shell.isEmpty()) account.shell = "/bin/sh";
    return account;
}

QByteArray TerminalTypeForEnvironment(const QByteArray& clientType) {
    if (clientType.isEmpty() || clientType.size() > kMaxTerminalTypeLength)
        return kDefaultTerminalType;
    QByteArray type = clientType;
    for (char& c : type) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || !(std::isalnum(byte) || c == '-' || c == '+' || c == '.' || c == '_'))
            return kDefaultTerminalType;
        c = static_cast<char>(std::tolower(byte));
    }
    return type;
}

void SetTerminalWindowSize(int terminalFd, int columns, int rows) {
    if (columns <= 0 && rows <= 0) return;
    winsize size = {};
    if (::ioctl(terminalFd, TIOCGWINSZ, &size) != 0) return;
    if (columns > 0)
        size.ws_col = static_cast<unsigned short>(std::min(columns, kMaxWindowDimension));
    if (rows > 0) size.ws_row = static_cast<unsigned short>(std::min(rows, kMaxWindowDimension));
    ::ioctl(terminalFd, TIOCSWINSZ, &size);
}

PosixTerminalLauncher::PosixTerminalLauncher() : PosixTerminalLauncher(Options{}) {}

PosixTerminalLauncher::PosixTerminalLauncher(Options options) : m_options(std::move(options)) {
    if (!m_options.account) m_options.account = CurrentLoginAccount;
}

InterpreterLauncher::Result PosixTerminalLauncher::Launch(InterpreterChild& child,
                                                          const TerminalRequest& request) {
    using Result = InterpreterLauncher::Result;
    // Every descriptor lives in an OwnedFd from the moment it exists, so each failure path
    // below closes what was already opened simply by returning.
    OwnedFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.IsValid() || ::grantpt(master.Get()) != 0 || ::unlockpt(master.Get()) != 0)
        return Result::PipeFailed;
    char name[128];
    if (::ptsname_r(master.Get(), name, sizeof name) != 0) return Result::PipeFailed;
    OwnedFd terminal(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    OwnedFd masterCopy(::fcntl(master.Get(), F_DUPFD_CLOEXEC, 0));
    if (!terminal.IsValid() || !masterCopy.IsValid()) return Result::PipeFailed;
    ConfigureTerminal(terminal.Get(), request);

    // The child reports a failed exec here; a successful one closes it without a word.
    int errorPipe[2] = {-1, -1};
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) return Result::PipeFailed;
    OwnedFd errorRead(errorPipe[0]), errorWrite(errorPipe[1]);

    const LoginAccount account = m_options.account();
    ExecStrings strings = PrepareExec(account, request);

    // No signal handler of the server may run in the child before its dispositions are reset.
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::fork();
    if (pid == 0) {
        RunShell(terminal.Get(), errorWrite.Get(), account.home.constData(),
                 account.shell.constData(), strings.argv.data(), strings.envp.data());
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0) return Result::ProcessFailed;

    errorWrite.Reset();
    terminal.Reset();  // the shell holds the terminal now; its end is then seen on the master
    int failure = 0;
    ssize_t got = -1;
    do {
        got = ::read(errorRead.Get(), &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    if (got != 0) {
        ::waitpid(pid, nullptr, 0);
        return Result::ProcessFailed;
    }

    SetNonBlocking(master.Get());  // one open terminal: both descriptors are non-blocking
    child.pid = pid;
    child.input = std::move(master);
    child.output = std::move(masterCopy);
    child.exitFd.Reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    return Result::Started;
}

}  // namespace orvane
