// The `dos` bridge: one command interpreter per session, its output to the client and the
// client's input to it, driven by events so that every bridge makes progress on its own.
#pragma once

#include <QObject>

namespace orvane {

class BridgeEndpoint;
class InterpreterLauncher;
class SettingsStore;

class DosBridge final : public QObject {
    Q_OBJECT
public:
    DosBridge(BridgeEndpoint& endpoint, InterpreterLauncher& launcher, SettingsStore& settings,
              QObject* parent = nullptr);
    ~DosBridge() override;  // ends and reaps a still running interpreter

    // Starts the interpreter (RunDosBridge). Returns at once; the bridge then runs on events
    // until it ends and calls endpoint.BridgeEnded().
    void Start();
    // The client's raw bytes, already with the line-feed rules of raw mode applied.
    void WriteToInterpreter(const char* data, int length);
    // The session's output buffer has room again.
    void ResumeOutput();
    // The client's connection is gone: end the interpreter's process group and reap it.
    // BridgeEnded() is not called after this.
    void ClientClosed();
    bool IsRunning() const;
};

}  // namespace orvane
