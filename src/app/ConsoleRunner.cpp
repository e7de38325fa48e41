// Console mode: signals arrive through a self-pipe so that the event loop ends them cleanly.
#include "app/ConsoleRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>

#include "app/OperatorTexts.h"
#include "config/ActivityLog.h"
#include "platform/Logging.h"
#include "platform/MessageBox.h"
#include "telnet/TelnetService.h"

namespace orvane {

namespace {
int g_signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: one byte into the pipe, errno kept.
void NoteSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
    errno = savedErrno;
}
}  // namespace

ConsoleRunner::ConsoleRunner(TelnetService& server, ActivityLog& log, MessageBoxService& messages,
                             std::FILE* output, QObject* parent)
    : QObject(parent), m_server(server), m_messages(messages), m_output(output) {
    connect(&log, &ActivityLog::entryAdded, this, &ConsoleRunner::PrintEntry);
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        struct sigaction action {};
        action.sa_handler = NoteSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        // Without them the default disposition still ends the program, only less tidily.
        if (::sigaction(SIGINT, &action, nullptr) != 0 ||
            ::sigaction(SIGTERM, &action, nullptr) != 0) {
            qCDebug(lcPlatform, "console signal handlers not set: %s", std::strerror(errno));
        }
    }
    if (g_signalPipe[0] >= 0) {
        m_signalNotifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
        connect(m_signalNotifier, &QSocketNotifier::activated, this, &ConsoleRunner::OnSignal);
    }
}

ConsoleRunner::~ConsoleRunner() = default;

int ConsoleRunner::Run() {
    if (!m_server.StartServer()) {
        m_messages.Show(StartFailedMessage(m_server.StartFailure()), MessageIcon::Stop);
        return 1;
    }
    QCoreApplication::exec();
    return 0;
}

void ConsoleRunner::PrintEntry(const ActivityEntry& entry) {
    const QByteArray line = ActivityLog::LogLine(entry);
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), m_output);
    std::fflush(m_output);
}

void ConsoleRunner::OnSignal() {
    char buffer[16];
    while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
    }
    // Like "E&xit Now" without the question: the loop ends and the connections with it.
    QCoreApplication::exit(0);
}

}  // namespace orvane
