// The interpreter on Linux: `/bin/sh -i` in its own session on two close-on-exec pipes,
// with the server's environment and working directory.
#pragma once

#include <QByteArray>
#include <QList>
#include <functional>

#include "platform/InterpreterLauncher.h"

namespace orvane {

class PosixInterpreterLauncher final : public InterpreterLauncher {
public:
    struct Options {
        QByteArray program = "/bin/sh";
        QList<QByteArray> arguments = {"-i"};
        // pipe2(2) by default; tests put a failing one here to reach the pipe failure path.
        std::function<int(int fds[2], int flags)> createPipe;
    };

    PosixInterpreterLauncher();
    explicit PosixInterpreterLauncher(Options options);

    Result Launch(InterpreterChild& child) override;

private:
    Options m_options;
};

}  // namespace orvane
