// The `dos` bridge: one command interpreter per session, its output to the client and the
// client's input to it, driven by events so that every bridge makes progress on its own.
#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QObject>
#include <memory>

#include "platform/InterpreterLauncher.h"

class QSocketNotifier;
class QTimer;

namespace orvane {

class BridgeEndpoint;
struct InterpreterChild;

class DosBridge final : public QObject {
    Q_OBJECT
public:
    DosBridge(BridgeEndpoint& endpoint, InterpreterLauncher& launcher, QObject* parent = nullptr);
    // With a terminal launcher for StartTerminal().
    DosBridge(BridgeEndpoint& endpoint, InterpreterLauncher& launcher,
              TerminalLauncher& terminalLauncher, QObject* parent = nullptr);
    ~DosBridge() override;  // ends and reaps a still running interpreter

    // Starts the interpreter (RunDosBridge). Returns at once; the bridge then runs on events
    // until it ends and calls endpoint.BridgeEnded(). From there the session may let go of
    // the bridge only with deleteLater(): the call comes from inside the bridge's own handlers.
    void Start();
    // The same on a pseudo-terminal (terminal mode): the client's terminal type for TERM and
    // its window size (0 where it is not known). A bridge without a terminal launcher runs
    // the interpreter on pipes instead.
    void StartTerminal(const QByteArray& terminalType, int columns, int rows);
    // Ctrl-C for the running command: SIGINT to the interpreter's process group, on a
    // terminal to its foreground group. Nothing once the interpreter has ended.
    void Interrupt();
    // The client's window changed: applied to the terminal at once; nothing on pipes.
    void SetWindowSize(int columns, int rows);
    // Runs on a pseudo-terminal: the client's bytes reach it unchanged, and its line
    // discipline echoes, so the session adds no echo of its own.
    bool IsTerminal() const { return m_terminal; }
    // The client's raw bytes, already with the line-feed rules of raw mode applied. True
    // when the bridge took them for the interpreter: the session echoes what was taken.
    bool WriteToInterpreter(const char* data, int length);
    // The client's stream has ended: the interpreter's input closes once it has taken what
    // is queued for it; its output still goes to the client until it ends.
    void EndInput();
    // The session's output buffer has room again.
    void ResumeOutput();
    // The client's connection is gone: end the interpreter's process group and reap it.
    // BridgeEnded() is not called after this.
    void ClientClosed();
    bool IsRunning() const;
    // The interpreter's process id once started (kept after it has ended); -1 before.
    qint64 InterpreterPid() const { return m_startedPid; }

private:
    enum class Phase { NotStarted, Running, Ended };

    void Begin(InterpreterLauncher::Result result, std::unique_ptr<InterpreterChild> child);
    void OnOutputReadable();
    void OnOutputEnd();
    void OnInputWritable();
    bool CheckExit();  // true when it ended the bridge
    void OnEndTimer();
    bool Forward(const char* data, int length);
    bool QueueInput(const QByteArray& bytes);
    void Abort();
    void End(const char* closingText);
    void TearDown();
    void SendText(const char* text);

    BridgeEndpoint& m_endpoint;
    InterpreterLauncher& m_launcher;
    TerminalLauncher* m_terminalLauncher = nullptr;

    Phase m_phase = Phase::NotStarted;
    std::unique_ptr<InterpreterChild> m_child;
    qint64 m_startedPid = -1;
    QSocketNotifier* m_outputNotifier = nullptr;
    QSocketNotifier* m_inputNotifier = nullptr;
    QSocketNotifier* m_exitNotifier = nullptr;
    QTimer* m_endTimer = nullptr;  // the wait for output after the exit, or for the exit

    QByteArray m_readBuffer;
    QByteArray m_sendBuffer;
    QByteArray m_pendingInput;  // accepted from the client, not yet taken by the pipe
    bool m_outputPaused = false;
    bool m_exited = false;  // the interpreter ended by itself and has been reaped
    bool m_outputEnded = false;
    bool m_previousWasCR = false;  // last byte forwarded, for line ends split across reads
    bool m_abort = false;
    bool m_inputEnded = false;
    bool m_terminal = false;
};

}  // namespace orvane
