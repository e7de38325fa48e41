// The self-pipe behind ExitSignals: the handler does only one async-signal-safe write.
#include "platform/ExitSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace orvane {

namespace {

int g_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void NoteSignal(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

void SetHandlers(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kSignals) ::sigaction(signalNumber, &action, nullptr);
}

}  // namespace

ExitSignals::ExitSignals(QObject* parent) : QObject(parent) {
    // The pipe lives as long as the process: a signal arriving while the handlers are being
    // exchanged must still find somewhere to write.
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ExitSignals::OnReadable);
    SetHandlers(NoteSignal);
}

ExitSignals::~ExitSignals() {
    if (m_notifier) SetHandlers(SIG_DFL);
}

void ExitSignals::OnReadable() {
    unsigned char bytes[16];
    ssize_t n = 0;
    while ((n = ::read(g_pipe[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i) emit received(bytes[i]);
    }
}

}  // namespace orvane
