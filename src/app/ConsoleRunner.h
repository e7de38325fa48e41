// The server without windows: activity on standard output, ended by SIGTERM, SIGINT or SIGHUP.
#pragma once

#include <unistd.h>

#include <QObject>

#include "platform/ConsoleOutput.h"
#include "platform/ExitSignals.h"

namespace orvane {

class ActivityLog;
class MessageBoxService;
class TelnetService;
struct ActivityEntry;

class ConsoleRunner final : public QObject {
    Q_OBJECT
public:
    ConsoleRunner(TelnetService& server, ActivityLog& log, MessageBoxService& messages,
                  int outputFd = STDOUT_FILENO, QObject* parent = nullptr);

    // Starts the server, says where it listens and runs the event loop until one of the
    // signals arrives, then says that it stopped. A server that cannot start shows the
    // start-failure text with the reason and the result is 1; otherwise 0.
    int Run();

private:
    void PrintEntry(const ActivityEntry& entry);
    void Say(const QString& line);

    TelnetService& m_server;
    MessageBoxService& m_messages;
    // The output never makes the server wait for whoever reads it.
    ConsoleOutput m_output;
    ExitSignals m_signals;
};

}  // namespace orvane
