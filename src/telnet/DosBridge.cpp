// The bridge runs entirely on notifications: output pipe readable, input pipe writable and
// the interpreter's exit. Nothing waits in a loop, so ten bridges progress side by side and
// an idle interpreter costs nothing.
#include "telnet/DosBridge.h"

#include <errno.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <cstring>

#include "platform/ChildReaper.h"
#include "platform/InterpreterLauncher.h"
#include "platform/InterpreterSignals.h"
#include "platform/TerminalProcess.h"
#include "telnet/BridgeEndpoint.h"
#include "telnet/ClientTexts.h"

namespace orvane {

namespace {

constexpr int kReadChunk = 64 * 1024;
// One pipe-full per wakeup: every further read is paid by the keystrokes of every other
// session. Sixteen made echoes wait about 7 ms behind nine streaming shells; with one they
// wait well under a millisecond, and throughput stays above a plain pipe-to-socket relay's.
constexpr int kReadsPerWakeup = 1;
// Typed or pasted input the interpreter has not taken yet; beyond this the write counts
// as short, as a pipe that refuses bytes did.
constexpr qsizetype kMaxPendingInput = 1 << 20;
// After the interpreter's exit its output is read to the end; commands it left running in
// the background may hold the pipe open, so a quiet pipe counts as the end after this.
constexpr int kDrainQuietMs = 1000;
// The pipe's end arrives a moment before the exit can be seen: how long to wait for it.
constexpr int kExitAfterEndMs = 500;

}  // namespace

DosBridge::DosBridge(BridgeEndpoint& endpoint, InterpreterLauncher& launcher, QObject* parent)
    : QObject(parent), m_endpoint(endpoint), m_launcher(launcher) {}

DosBridge::DosBridge(BridgeEndpoint& endpoint, InterpreterLauncher& launcher,
                     TerminalLauncher& terminalLauncher, QObject* parent)
    : QObject(parent),
      m_endpoint(endpoint),
      m_launcher(launcher),
      m_terminalLauncher(&terminalLauncher) {}

DosBridge::~DosBridge() {
    if (m_phase == Phase::Running) TearDown();
}

bool DosBridge::IsRunning() const {
    return m_phase == Phase::Running;
}

void DosBridge::SendText(const char* text) {
    m_endpoint.SendBuffer(text, static_cast<int>(std::strlen(text)));
}

void DosBridge::Start() {
    if (m_phase != Phase::NotStarted) return;
    auto child = std::make_unique<InterpreterChild>();
    const InterpreterLauncher::Result result = m_launcher.Launch(*child);
    Begin(result, std::move(child));
}

void DosBridge::StartTerminal(const QByteArray& terminalType, int columns, int rows) {
    if (m_phase != Phase::NotStarted) return;
    if (!m_terminalLauncher) {
        Start();
        return;
    }
    auto child = std::make_unique<InterpreterChild>();
    const InterpreterLauncher::Result result =
        m_terminalLauncher->Launch(*child, TerminalRequest{terminalType, columns, rows});
    m_terminal = result == InterpreterLauncher::Result::Started;
    Begin(result, std::move(child));
}

void DosBridge::Begin(InterpreterLauncher::Result result, std::unique_ptr<InterpreterChild> child) {
    if (result != InterpreterLauncher::Result::Started) {
        m_phase = Phase::Ended;
        SendText(result == InterpreterLauncher::Result::PipeFailed ? text::kCreatePipeFailed
                                                                   : text::kCreateProcessFailed);
        m_endpoint.BridgeEnded();
        return;
    }

    m_child = std::move(child);
    m_startedPid = m_child->pid;
    m_phase = Phase::Running;
    m_abort = false;
    m_readBuffer.resize(kReadChunk);

    m_outputNotifier = new QSocketNotifier(m_child->output.Get(), QSocketNotifier::Read, this);
    connect(m_outputNotifier, &QSocketNotifier::activated, this, &DosBridge::OnOutputReadable);

    m_inputNotifier = new QSocketNotifier(m_child->input.Get(), QSocketNotifier::Write, this);
    m_inputNotifier->setEnabled(false);
    connect(m_inputNotifier, &QSocketNotifier::activated, this, &DosBridge::OnInputWritable);

    m_endTimer = new QTimer(this);
    m_endTimer->setSingleShot(true);
    connect(m_endTimer, &QTimer::timeout, this, &DosBridge::OnEndTimer);

    if (m_child->exitFd.IsValid()) {
        m_exitNotifier = new QSocketNotifier(m_child->exitFd.Get(), QSocketNotifier::Read, this);
        connect(m_exitNotifier, &QSocketNotifier::activated, this, [this] { CheckExit(); });
    }
    // Without an exit descriptor the exit is noticed when the output pipe ends.
}

void DosBridge::Interrupt() {
    if (m_phase != Phase::Running || !m_child || m_child->pid <= 0) return;
    // While the interpreter is unreaped its process id, which is also its group's and its
    // session's, cannot belong to anyone else.
    InterruptInterpreter(m_child->pid, m_terminal ? m_child->input.Get() : -1);
}

void DosBridge::SetWindowSize(int columns, int rows) {
    if (m_phase != Phase::Running || !m_terminal) return;
    SetTerminalWindowSize(m_child->input.Get(), columns, rows);
}

void DosBridge::OnOutputReadable() {
    if (m_phase != Phase::Running || m_outputPaused) return;
    const int fd = m_child->output.Get();

    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) != 0) {
        End(text::kPeekBreak);
        return;
    }
    for (int pass = 0; pass < kReadsPerWakeup; ++pass) {
        if (m_endpoint.OutputBufferFull()) {
            m_outputPaused = true;
            m_outputNotifier->setEnabled(false);
            return;
        }
        // From a terminal one read gives what its line discipline holds, a few kilobytes:
        // gathering more per turn made every keystroke wait about ten times longer behind
        // nine streaming shells, for at most twice the rate of one.
        const ssize_t got = ::read(fd, m_readBuffer.data(), kReadChunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) break;
            // A terminal's master side reads EIO once the shell and everything it started
            // have let go of the terminal: that is its end, as a pipe's is a read of 0.
            if (m_terminal && errno == EIO) {
                OnOutputEnd();
                return;
            }
            End(text::kReadBreak);
            return;
        }
        if (got == 0) {
            OnOutputEnd();
            return;
        }
        if (!Forward(m_readBuffer.constData(), static_cast<int>(got))) {
            End(text::kSendChunkFailed);
            return;
        }
        // The session may have been closed while it took the bytes.
        if (m_phase != Phase::Running) return;
        if (got < kReadChunk) break;
    }
    if (m_exited) m_endTimer->start(kDrainQuietMs);
}

bool DosBridge::Forward(const char* data, int length) {
    // The terminal's line discipline already turned each line feed into CR LF.
    if (m_terminal) return m_endpoint.SendBuffer(data, length) != 0;
    // A line feed not preceded by a carriage return goes out as CR LF, as the client's
    // terminal expects from a command line. Copied a line at a time: this is the hot path.
    m_sendBuffer.resize(static_cast<qsizetype>(length) * 2);
    char* out = m_sendBuffer.data();
    const char* in = data;
    const char* const end = data + length;
    bool previousWasCR = m_previousWasCR;
    while (in < end) {
        const char* lineFeed = static_cast<const char*>(std::memchr(in, '\n', end - in));
        const char* stop = lineFeed ? lineFeed : end;
        const size_t run = static_cast<size_t>(stop - in);
        std::memcpy(out, in, run);
        out += run;
        if (run > 0) previousWasCR = (stop[-1] == '\r');
        if (!lineFeed) break;
        if (!previousWasCR) *out++ = '\r';
        *out++ = '\n';
        previousWasCR = false;
        in = lineFeed + 1;
    }
    m_previousWasCR = previousWasCR;
    return m_endpoint.SendBuffer(m_sendBuffer.constData(),
                                 static_cast<int>(out - m_sendBuffer.constData())) != 0;
}

void DosBridge::OnOutputEnd() {
    m_outputEnded = true;
    m_outputNotifier->setEnabled(false);
    if (m_exited) {
        End(text::kNormalExit);
        return;
    }
    if (CheckExit()) return;
    m_endTimer->start(kExitAfterEndMs);
}

bool DosBridge::CheckExit() {
    if (m_phase != Phase::Running || m_exited) return false;
    int status = 0;
    const pid_t reaped = ::waitpid(m_child->pid, &status, WNOHANG);
    if (reaped == 0) return false;  // still running
    if (reaped < 0) {
        End(text::kThreadTerminated);
        return true;
    }
    m_exited = true;
    m_child->pid = -1;
    if (m_exitNotifier) m_exitNotifier->setEnabled(false);
    // What the interpreter wrote before it ended still goes out before the closing text.
    if (m_outputEnded) {
        End(text::kNormalExit);
        return true;
    }
    m_endTimer->start(kDrainQuietMs);
    return false;
}

void DosBridge::OnEndTimer() {
    if (m_phase != Phase::Running) return;
    if (m_exited) {
        // Draining after the exit: a full session buffer is not a quiet pipe.
        if (m_outputPaused) {
            m_endTimer->start(kDrainQuietMs);
            return;
        }
        End(text::kNormalExit);
        return;
    }
    // The output ended but the interpreter still runs: it closed its output itself.
    if (CheckExit()) return;
    End(text::kReadLengthZero);
}

void DosBridge::ResumeOutput() {
    if (m_phase != Phase::Running || !m_outputPaused) return;
    m_outputPaused = false;
    if (!m_outputEnded) m_outputNotifier->setEnabled(true);
}

bool DosBridge::WriteToInterpreter(const char* data, int length) {
    if (m_phase != Phase::Running || m_abort || m_inputEnded || length <= 0) return false;

    // A terminal takes the client's bytes as they are: its line discipline turns a CR into
    // the end of a line, and Ctrl-C, erase and the like into what they mean.
    if (m_terminal) {
        if (!QueueInput(QByteArray::fromRawData(data, length))) {
            Abort();
            return false;
        }
        return true;
    }

    // The interpreter reads Unix line ends: carriage returns are dropped on the way in.
    QByteArray bytes;
    bytes.reserve(length);
    for (int i = 0; i < length; ++i) {
        if (data[i] != '\r') bytes.append(data[i]);
    }
    if (!QueueInput(bytes)) {
        Abort();
        return false;
    }
    return true;
}

bool DosBridge::QueueInput(const QByteArray& bytes) {
    qsizetype written = 0;
    if (m_pendingInput.isEmpty()) {
        while (written < bytes.size()) {
            const ssize_t n =
                ::write(m_child->input.Get(), bytes.constData() + written, bytes.size() - written);
            if (n >= 0) {
                written += n;
                continue;
            }
            if (errno == EINTR) continue;
            if (errno == EAGAIN) break;  // a full pipe is not a failure: keep the rest
            return false;
        }
    }
    if (written == bytes.size()) return true;
    if (m_pendingInput.size() + (bytes.size() - written) > kMaxPendingInput) return false;
    m_pendingInput.append(bytes.constData() + written, bytes.size() - written);
    m_inputNotifier->setEnabled(true);
    return true;
}

void DosBridge::OnInputWritable() {
    if (m_phase != Phase::Running) return;
    while (!m_pendingInput.isEmpty()) {
        const ssize_t n =
            ::write(m_child->input.Get(), m_pendingInput.constData(), m_pendingInput.size());
        if (n >= 0) {
            m_pendingInput.remove(0, n);
            continue;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return;
        Abort();
        return;
    }
    m_inputNotifier->setEnabled(false);
    // A terminal's input is also where its output comes from and its size is set.
    if (m_inputEnded && !m_terminal) m_child->input.Reset();
}

void DosBridge::EndInput() {
    if (m_phase != Phase::Running || m_inputEnded) return;
    if (m_terminal) {
        /* Closing our copy of the terminal's master side would not end the shell's input:
           the terminal stays open. Its end-of-file character after the queued bytes does,
           as a user's Ctrl-D at the start of a line would. */
        termios modes{};
        const char endOfFile =
            ::tcgetattr(m_child->input.Get(), &modes) == 0 && modes.c_cc[VEOF] != _POSIX_VDISABLE
                ? static_cast<char>(modes.c_cc[VEOF])
                : '\x04';
        if (!QueueInput(QByteArray(1, endOfFile))) Abort();
        m_inputEnded = true;
        return;
    }
    m_inputEnded = true;
    // The interpreter reads the end of its input once the queued bytes are through.
    if (m_pendingInput.isEmpty()) {
        m_inputNotifier->setEnabled(false);
        m_child->input.Reset();
    }
}

void DosBridge::Abort() {
    // The bridge ends on its next turn, not inside the session's receive handler.
    m_abort = true;
    m_inputNotifier->setEnabled(false);
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_phase == Phase::Running) End(text::kAbortLoop);
        },
        Qt::QueuedConnection);
}

void DosBridge::End(const char* closingText) {
    if (m_phase != Phase::Running) return;
    m_phase = Phase::Ended;
    SendText(closingText);
    TearDown();
    // Last: the session may let go of this bridge from here.
    m_endpoint.BridgeEnded();
}

void DosBridge::TearDown() {
    m_phase = Phase::Ended;
    // Often called from one of these notifiers' own signals: they go on the next turn.
    for (QSocketNotifier** notifier : {&m_outputNotifier, &m_inputNotifier, &m_exitNotifier}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
    if (m_endTimer) m_endTimer->stop();
    m_pendingInput.clear();
    if (!m_child) return;
    m_child->input.Reset();
    m_child->output.Reset();
    if (m_child->pid > 0) {
        // A shell on a terminal has job control: its jobs run in process groups of their own.
        if (m_terminal) {
            ChildReaper::Instance().EndSession(m_child->pid, std::move(m_child->exitFd));
        } else {
            ChildReaper::Instance().EndProcessGroup(m_child->pid, std::move(m_child->exitFd));
        }
        m_child->pid = -1;
    }
    m_child->exitFd.Reset();
}

void DosBridge::ClientClosed() {
    if (m_phase == Phase::Running) TearDown();
}

}  // namespace orvane

// Compiled here rather than in the library's shared moc unit, so that linking the bridge
// does not pull in the meta-objects of every other class.
#include "moc_DosBridge.cpp"
