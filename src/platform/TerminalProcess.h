// The interpreter on a pseudo-terminal (terminal mode): the account's login shell as the
// leader of its own session, the terminal as its controlling terminal, and a login
// environment instead of the server's.
#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <functional>

#include "platform/InterpreterLauncher.h"

namespace orvane {

// The account the shell runs for: the user who runs the server.
struct LoginAccount {
    QByteArray name;
    QByteArray home;
    QByteArray shell;
    uid_t uid = 0;
};

// The password database's entry for the user running the server; /bin/sh when it names no
// shell, and a bare entry (the user id as name, "/" as home) when there is none.
LoginAccount CurrentLoginAccount();

// The terminal type as TERM may hold it: letters, digits and "-+._", at most 40 bytes, in
// lower case (clients send the names upper-cased, the terminal database knows them in
// lower case); "vt100" for anything else, an empty type included.
QByteArray TerminalTypeForEnvironment(const QByteArray& clientType);

// Sets the terminal's window size; a size of 0 or less leaves that dimension as it was.
// The kernel tells the terminal's foreground programs (SIGWINCH) when it changed.
void SetTerminalWindowSize(int terminalFd, int columns, int rows);

class PosixTerminalLauncher final : public TerminalLauncher {
public:
    struct Options {
        // The user running the server by default; tests put another shell or home here.
        std::function<LoginAccount()> account;
    };

    PosixTerminalLauncher();
    explicit PosixTerminalLauncher(Options options);

    InterpreterLauncher::Result Launch(InterpreterChild& child,
                                       const TerminalRequest& request) override;

private:
    Options m_options;
};

}  // namespace orvane
