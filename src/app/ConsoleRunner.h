// The server without windows: activity on standard output, ended by SIGINT or SIGTERM.
#pragma once

#include <QObject>
#include <cstdio>

class QSocketNotifier;

namespace orvane {

class ActivityLog;
class MessageBoxService;
class TelnetService;
struct ActivityEntry;

class ConsoleRunner final : public QObject {
    Q_OBJECT
public:
    ConsoleRunner(TelnetService& server, ActivityLog& log, MessageBoxService& messages,
                  std::FILE* output = stdout, QObject* parent = nullptr);
    ~ConsoleRunner() override;

    // Starts the server and runs the event loop until SIGINT or SIGTERM. A server that
    // cannot start shows the start-failure text and the result is 1; otherwise 0.
    int Run();

private:
    void PrintEntry(const ActivityEntry& entry);
    void OnSignal();

    TelnetService& m_server;
    MessageBoxService& m_messages;
    std::FILE* m_output;
    QSocketNotifier* m_signalNotifier = nullptr;
};

}  // namespace orvane
