// Terminal password prompt for the first administration account.
#include "app/ConsoleAdminPrompt.h"

#include <termios.h>
#include <unistd.h>

#include <QByteArray>

#include "users/PasswordRule.h"
#include "users/UserEditing.h"

namespace orvane {

namespace {
constexpr int kMaxPasswordBytes = 4096;

// Reads one line byte by byte so that nothing after the line end is swallowed.
bool ReadLine(int fd, QByteArray& line) {
    char c = 0;
    while (line.size() < kMaxPasswordBytes) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n <= 0) return !line.isEmpty();
        if (c == '\n') return true;
        if (c != '\r') line.append(c);
    }
    return true;
}
}  // namespace

ConsoleAdminPrompt::ConsoleAdminPrompt(int inputFd, std::FILE* output)
    : m_inputFd(inputFd), m_output(output) {}

bool ConsoleAdminPrompt::AskForAdminAccount(UserRecord& record) {
    if (!::isatty(m_inputFd)) return false;
    std::fputs(
        "You should add an administration account.\n"
        "Type the password for \"Administrator\" below.\nPassword : ",
        m_output);
    std::fflush(m_output);

    termios saved{};
    const bool haveTerminal = ::tcgetattr(m_inputFd, &saved) == 0;
    if (haveTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(m_inputFd, TCSAFLUSH, &quiet);
    }
    QByteArray password;
    bool answered = false;
    // Asked again until there is a password, or the input ends (the operator gave up).
    for (;;) {
        password.clear();
        answered = ReadLine(m_inputFd, password);
        if (!answered) break;
        const char* refusal = PasswordRefusal(password.constData());
        if (!refusal) break;
        std::fprintf(m_output, "%s\nPassword : ", refusal);
        std::fflush(m_output);
    }
    if (haveTerminal) ::tcsetattr(m_inputFd, TCSAFLUSH, &saved);
    if (!answered) return false;
    record = AdminAccountRecord(QByteArrayLiteral("Administrator"), password);
    return true;
}

}  // namespace orvane
