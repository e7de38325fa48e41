// Console mode: the signals and the output are the platform's; this ties them to the server.
#include "app/ConsoleRunner.h"

#include <QCoreApplication>

#include "app/OperatorTexts.h"
#include "config/ActivityLog.h"
#include "platform/MessageBox.h"
#include "telnet/TelnetService.h"

namespace orvane {

ConsoleRunner::ConsoleRunner(TelnetService& server, ActivityLog& log, MessageBoxService& messages,
                             int outputFd, QObject* parent)
    : QObject(parent), m_server(server), m_messages(messages), m_output(outputFd) {
    connect(&log, &ActivityLog::entryAdded, this, &ConsoleRunner::PrintEntry);
    // Like "E&xit Now" without the question: the loop ends and the connections with it.
    connect(&m_signals, &ExitSignals::received, this, [] { QCoreApplication::exit(0); });
}

int ConsoleRunner::Run() {
    if (!m_server.StartServer()) {
        m_messages.Show(StartFailedMessage(m_server.StartFailure()), MessageIcon::Stop);
        return 1;
    }
    const QString where = m_server.ListeningAddress();
    if (!where.isEmpty()) Say(QString::fromLatin1(kListeningFormat).arg(where));
    const QString fingerprint = m_server.TlsFingerprint();
    if (!fingerprint.isEmpty()) {
        Say(QString::fromLatin1(kConsoleTlsFormat).arg(m_server.TlsBoundPort()).arg(fingerprint));
    }
    QCoreApplication::exec();
    Say(QString::fromLatin1(kStoppedFormat).arg(where));
    return 0;
}

void ConsoleRunner::PrintEntry(const ActivityEntry& entry) {
    m_output.WriteLine(ActivityLog::LogLine(entry));
}

void ConsoleRunner::Say(const QString& line) {
    m_output.WriteLine(line.toUtf8() + '\n');
}

}  // namespace orvane
