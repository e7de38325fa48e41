// SIGTERM, SIGINT and SIGHUP delivered as an event of the event loop, so that a signal ends
// the program along the same path as "E&xit Now", never from inside a signal handler.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace orvane {

// While one exists, the three signals are caught (through a pipe written by the handler) and
// reported by received(); when it goes, their default actions are back.
class ExitSignals final : public QObject {
    Q_OBJECT
public:
    explicit ExitSignals(QObject* parent = nullptr);
    ~ExitSignals() override;

signals:
    void received(int signalNumber);

private:
    void OnReadable();

    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace orvane
