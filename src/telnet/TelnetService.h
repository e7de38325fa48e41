// The Telnet service: the listener and the registry of ten sessions, owned by the main
// window (or the console runner) and testable without either.
#pragma once

#include <QObject>

namespace orvane {

class COrvaneApp;
class ActivityLog;
class SoundPlayer;
class PowerControl;
class InterpreterLauncher;

// The platform services a running server uses.
struct ServerServices {
    SoundPlayer& sound;
    PowerControl& power;
    InterpreterLauncher& interpreter;  // starts the `dos` command interpreter
};

class TelnetService final : public QObject {
    Q_OBJECT
public:
    TelnetService(COrvaneApp& app, ActivityLog& log, ServerServices services,
                  QObject* parent = nullptr);
    ~TelnetService() override;

    // Reads "PortNr" and listens on every local address. 1 listening, 0 failed
    // (also when already listening).
    int StartServer();
    // Closes the listener and retires every session ("Connection terminated" with the
    // dotted address). 1 stopped, 0 when there was no listener.
    int StopServer();
    bool IsListening() const;
    int ConnectionCount() const;
    // The port actually bound (useful when "PortNr" is 0 in tests); 0 when stopped.
    int BoundPort() const;

signals:
    // After every change of the count: the window updates its text and the tray.
    void connectionCountChanged(int count);
};

}  // namespace orvane
