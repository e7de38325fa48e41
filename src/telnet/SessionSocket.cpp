// The session: line input, echo, login, the command shell and the bridge's endpoint.
#include "telnet/SessionSocket.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "config/SettingsStore.h"
#include "platform/PowerControl.h"
#include "telnet/ClientTexts.h"
#include "telnet/DosBridge.h"
#include "telnet/TelnetService.h"
#include "users/UserMatching.h"

namespace orvane {

namespace {
// printf with one argument into storage sized for the result.
QByteArray Format(const char* format, unsigned long code, const char* message = nullptr) {
    const int size = message ? std::snprintf(nullptr, 0, format, code, message)
                             : std::snprintf(nullptr, 0, format, code);
    std::vector<char> text(static_cast<size_t>(size) + 1);
    if (message) {
        std::snprintf(text.data(), text.size(), format, code, message);
    } else {
        std::snprintf(text.data(), text.size(), format, code);
    }
    return QByteArray(text.data(), size);
}
}  // namespace

CSessionSocket::CSessionSocket(TelnetService& service, int fd, int slot, const QByteArray& peerAddr,
                               const QByteArray& peerName, TelnetProtocol protocol)
    : m_service(service),
      m_socket(std::make_unique<AsyncConnection>(fd, *this)),
      m_protocol(std::move(protocol)),
      m_nSlot(slot),
      m_timers(service.SessionClock()) {
    CopyText(m_szPeerAddr, sizeof m_szPeerAddr, peerAddr.constData(), sizeof m_szPeerAddr - 1);
    CopyText(m_szPeerName, sizeof m_szPeerName, peerName.constData(), sizeof m_szPeerName - 1);
}

CSessionSocket::~CSessionSocket() {
    // The bridge goes first: it may still talk to this endpoint while it ends.
    m_pBridge.reset();
}

int CSessionSocket::SendText(const char* text) {
    return SendBuffer(text, static_cast<int>(std::strlen(text)));
}

int CSessionSocket::SendBuffer(const char* data, int length) {
    return SendToClient(data, length);
}

int CSessionSocket::SendPrompt() {
    return SendText(text::kPrompt);
}

int CSessionSocket::SendGreeting() {
    const QByteArray greeting = QByteArray(text::kGreetingFormat).replace("%s", text::kVersion);
    SendText(greeting.constData());
    SendText(text::kLineEnd);
    SendText(text::kUsernamePrompt);
    m_bGreeted = true;
    if (!m_tlsDescription.isEmpty())
        m_service.LogActivity(m_szPeerName, m_tlsDescription.constData());
    m_pLookup.reset();
    HoldInput(false);
    const std::int64_t timeout = m_service.Settings().Read(setting::LoginTimeout);
    m_timers.StartLoginTimeout(timeout * 1000, [this] { OnLoginTimedOut(); });
    return 0;
}

int CSessionSocket::SendToClient(const char* data, int length) {
    // Once the client speaks Telnet, a 0xFF of ours would read as a command: it goes doubled.
    if (length > 0 && m_protocol.ClientSpeaksTelnet() &&
        std::memchr(data, telnet::IAC, static_cast<size_t>(length))) {
        m_quoted.resize(0);
        TelnetProtocol::AppendQuoted(m_quoted, QByteArrayView(data, length));
        return SendRaw(m_quoted.constData(), static_cast<int>(m_quoted.size()));
    }
    return SendRaw(data, length);
}

void CSessionSocket::SendReplies() {
    if (!m_protocol.HasReplies()) return;
    const QByteArray replies = m_protocol.TakeReplies();
    SendRaw(replies.constData(), static_cast<int>(replies.size()));
}

int CSessionSocket::SendRaw(const char* data, int length) {
    if (m_bClosing || length <= 0) return 1;
    if (m_bSendFailed || m_bSendShut) return 0;
    long sent = 0;
    // Straight to the connection while nothing waits before these bytes.
    if (m_output.IsEmpty()) {
        sent = m_socket->Send(data, length);
        if (sent < 0) {
            if (errno != EAGAIN) {
                m_bSendFailed = true;
                return 0;
            }
            sent = 0;
        }
    }
    if (sent < length) {
        m_output.Append(data + sent, length - sent);
        m_socket->SetSendNotifications(true);
        UpdateFlowControl();
    }
    return 1;
}

void CSessionSocket::UpdateFlowControl() {
    /* Past the limit the session stops producing: it reads no more of its client's input
       (which would bring echoes and replies) until the client has taken its output. The
       bridge checks OutputBufferFull() itself before each read. Nothing waits here, so
       other sessions go on. */
    if (m_bInputPaused || !m_output.AboveLimit()) return;
    m_bInputPaused = true;
    m_socket->SetReceiveNotifications(false);
}

void CSessionSocket::OnSendReady() {
    FlushOutput();
}

void CSessionSocket::FlushOutput() {
    while (!m_output.IsEmpty() && !m_bSendFailed) {
        const long sent = m_socket->Send(m_output.Data(), m_output.Pending());
        if (sent < 0) {
            if (errno == EAGAIN) return;
            m_bSendFailed = true;
            break;
        }
        m_output.Consume(sent);
    }
    m_output.Clear();
    m_socket->SetSendNotifications(false);
    // Drained (or failed: the close must still be noticed): the client is read again.
    if (m_bInputPaused) {
        m_bInputPaused = false;
        if (!m_bRetired && !m_bInputHeld) m_socket->SetReceiveNotifications(true);
    }
    if (m_bCloseWhenSent || (m_bSendFailed && m_bInputEnded)) {
        m_bCloseWhenSent = false;
        CloseOnceSent();
        return;
    }
    if (m_bSendFailed) return;
    if (m_bShutdownPending) {
        m_bShutdownPending = false;
        m_socket->ShutdownSend();
    }
    if (m_pBridge && m_nState == STATE_DOS) m_pBridge->ResumeOutput();
}

bool CSessionSocket::OutputBufferFull() const {
    return m_output.AboveLimit();
}

void CSessionSocket::ShutdownSendSide() {
    // Output already queued still goes out first; the peer then sees the end of the stream.
    m_bSendShut = true;
    if (m_output.IsEmpty()) {
        m_socket->ShutdownSend();
    } else {
        m_bShutdownPending = true;
    }
    // A client that keeps the connection open after the server's last word (or never takes
    // it) must not hold its slot for ever.
    m_timers.StartLinger([this] { OnLingerOver(); });
}

void CSessionSocket::OnReceive(int errorCode) {
    if (errorCode != 0 || m_nState == STATE_LOCKED || m_bClosing || m_bInputEnded) return;
    const long got = m_socket->Receive(m_received, ReceiveRoom());
    if (got < 0 && errno == EAGAIN) return;
    if (got == 0) {
        EndOfInput();
        return;
    }
    if (got < 0) {
        m_bClosing = 1;
        return;
    }
    m_timers.NoteInput();
    ReceiveFromClient(m_received, static_cast<int>(got));
}

int CSessionSocket::ReceiveRoom() const {
    // A line takes what fits behind its start; raw mode a whole buffer at a time.
    if (m_nState == STATE_DOS) return kLineBufferSize - 1;
    return kLineBufferSize - 1 - LineLength();
}

bool CSessionSocket::TakesInput() const {
    // After `exit`, a lock or a shutdown, whatever the client typed ahead is dropped.
    return !m_bRetired && !m_bClosing && !m_bSendShut && m_nState != STATE_LOCKED;
}

LineAssembler::Echo CSessionSocket::EchoMode() {
    if (!EchoOn()) return LineAssembler::Echo::None;
    return m_nState == STATE_PASSWORD ? LineAssembler::Echo::Masked : LineAssembler::Echo::Text;
}

void CSessionSocket::ReceiveFromClient(const char* data, int length) {
    m_protocol.Feed(QByteArrayView(data, length));
    ProcessInput();
}

void CSessionSocket::ProcessInput() {
    m_chunkEcho.reset();
    // Lines typed ahead of a refused login wait for its delayed answer, then go on here.
    if (!m_heldData.isEmpty()) {
        const QByteArray held = std::exchange(m_heldData, QByteArray());
        ReceiveData(held);
    }
    TelnetEvent event;
    while (!m_bInputHeld && m_protocol.Next(event)) {
        // The replies answer what came before this event, all of it handled by now: a
        // timing mark tells the client that its interrupt has been acted on.
        SendReplies();
        HandleEvent(event);
    }
    SendReplies();
    if (m_bInputHeld || !TakesInput() || m_nState == STATE_DOS) return;
    // The length rule looks at what one receive brought, as it always has.
    QByteArray echoed;
    if (m_input.EndOfChunk(EchoMode(), echoed)) {
        SendToClient(echoed.constData(), static_cast<int>(echoed.size()));
        HandleCompletedLine(m_input.TakeLine());
    }
}

void CSessionSocket::HandleEvent(const TelnetEvent& event) {
    if (!TakesInput()) return;
    const bool inDos = m_nState == STATE_DOS && m_pBridge;
    switch (event.kind) {
        case TelnetEvent::Kind::Data:
            ReceiveData(event.data);
            break;
        case TelnetEvent::Kind::InterruptProcess:
            if (inDos) {
                m_pBridge->Interrupt();
            } else {
                EraseInput(true);
            }
            break;
        case TelnetEvent::Kind::AreYouThere:
            SendText(text::kAreYouThere);
            break;
        case TelnetEvent::Kind::EraseCharacter:
        case TelnetEvent::Kind::EraseLine: {
            const bool wholeLine = event.kind == TelnetEvent::Kind::EraseLine;
            if (!inDos) {
                EraseInput(wholeLine);
            } else if (m_pBridge->IsTerminal()) {
                // The terminal's own erase and kill characters do it there.
                m_pBridge->WriteToInterpreter(wholeLine ? "\x15" : "\x7f", 1);
            }
            break;
        }
        case TelnetEvent::Kind::WindowSize:
            if (inDos) m_pBridge->SetWindowSize(event.columns, event.rows);
            break;
        default:
            break;
    }
}

void CSessionSocket::ReceiveData(QByteArrayView data) {
    QByteArray echoed;
    while (!data.isEmpty() && TakesInput()) {
        // Bytes after the `dos` line are the interpreter's, in the same chunk or not.
        if (m_nState == STATE_DOS) {
            WriteToBridge(data);
            return;
        }
        echoed.resize(0);
        const LineAssembler::Step step = m_input.Add(data, EchoMode(), echoed);
        data = data.sliced(step.used);
        if (!echoed.isEmpty()) SendToClient(echoed.constData(), static_cast<int>(echoed.size()));
        if (step.complete) HandleCompletedLine(m_input.TakeLine());
        if (m_bInputHeld) {
            m_heldData = data.toByteArray();
            return;
        }
    }
}

void CSessionSocket::WriteToBridge(QByteArrayView data) {
    if (!m_pBridge) return;
    const bool terminal = m_pBridge->IsTerminal();
    QByteArray bytes;
    m_input.ConvertForInterpreter(data, terminal, bytes);
    if (bytes.isEmpty()) return;
    const int length = static_cast<int>(bytes.size());
    // Over pipes the server echoes what the interpreter took (Linux counts as the NT
    // family); a terminal echoes by itself.
    if (m_pBridge->WriteToInterpreter(bytes.constData(), length) && !terminal && EchoOn()) {
        SendToClient(bytes.constData(), length);
    }
}

void CSessionSocket::EraseInput(bool wholeLine) {
    QByteArray echoed;
    if (wholeLine) {
        m_input.EraseLine(EchoMode(), echoed);
    } else {
        m_input.EraseCharacter(EchoMode(), echoed);
    }
    SendToClient(echoed.constData(), static_cast<int>(echoed.size()));
}

bool CSessionSocket::EchoOn() {
    // Read once per chunk, and only when something is to be echoed: a change takes effect
    // at the next chunk, and a terminal in dos, which echoes by itself, costs no look at
    // the settings file per keystroke.
    if (!m_chunkEcho) m_chunkEcho = m_service.Settings().Read(setting::EchoBack) != 0;
    return *m_chunkEcho;
}

void CSessionSocket::HandleCompletedLine(const QByteArray& line) {
    switch (m_nState) {
        case STATE_USERNAME:
            OnUserName(line.constData());
            break;
        case STATE_PASSWORD:
            OnPassword(line.constData());
            break;
        case STATE_COMMAND:
            // Recorded before it runs, so that the log shows what was asked even when the
            // command takes the machine down.
            m_service.LogActivity(m_szPeerName, line.constData());
            ExecuteCommand(line.constData());
            break;
        default:
            break;
    }
}

void CSessionSocket::OnSecured(const QString& description) {
    // Right after "Logging in...", so the operator can tell encrypted sessions apart; a
    // session still waiting for its name says it when it is greeted.
    m_tlsDescription = description.toLatin1();
    if (m_bGreeted && !m_bRetired)
        m_service.LogActivity(m_szPeerName, m_tlsDescription.constData());
}

void CSessionSocket::OnHandshakeFailed(const QString& reason) {
    if (!m_bRetired) m_service.HandshakeFailed(*this, reason);
    OnClose(ECONNABORTED);
}

void CSessionSocket::OnClose(int errorCode) {
    if (m_bRetired) return;
    if (errorCode == 0) {
        EndOfInput();
        return;
    }
    m_bClosing = 1;
    m_service.SessionClosed(*this);
}

void CSessionSocket::EndOfInput() {
    /* The client has ended its stream. A script does that after its last line
       (printf ... | nc -N): every line it sent has been handled, and what they brought must
       still reach it. A bridge over pipes sees the end of its input and runs until the
       interpreter ends; the session ends after that, and at once when nothing is left to
       do. Programs on a terminal wait for a person who has gone: that bridge ends now, as
       for a closed connection. */
    if (m_bInputEnded || m_bRetired) return;
    m_bInputEnded = true;
    // A connection that has refused bytes is gone both ways: nothing more can reach it.
    if (m_nState == STATE_DOS && m_pBridge && m_pBridge->IsRunning() && !m_pBridge->IsTerminal() &&
        !m_bSendFailed) {
        m_pBridge->EndInput();
        return;
    }
    CloseOnceSent();
}

void CSessionSocket::CloseOnceSent() {
    if (m_bRetired) return;
    if (!m_output.IsEmpty() && !m_bSendFailed) {
        m_bCloseWhenSent = true;
        return;
    }
    m_bClosing = 1;
    m_service.SessionClosed(*this);
}

void CSessionSocket::Retire() {
    if (m_bRetired) return;
    m_bRetired = true;
    m_bClosing = 1;
    // A lookup still running is left to itself; nothing waits for it.
    m_pLookup.reset();
    m_timers.StopAll();
    m_loginTicket.Release();
    if (m_pBridge) m_pBridge->ClientClosed();
    m_socket->Close();
}

void CSessionSocket::OnUserName(const char* line) {
    CopyText(m_szUser, sizeof m_szUser, line, sizeof m_szUser - 1);
    SendText(text::kPasswordPrompt);
    m_nState = STATE_PASSWORD;
}

void CSessionSocket::OnPassword(const char* line) {
    CopyText(m_szPassword, sizeof m_szPassword, line, sizeof m_szPassword - 1);
    QByteArray greeting;
    if (m_service.CheckLogin(m_szPeerName, m_szUser, m_szPassword, &m_bCanDos, &m_bCanShutdown,
                             &greeting)) {
        m_nState = STATE_COMMAND;
        m_loginTicket.Release();
        m_timers.StopLoginTimeout();
        const std::int64_t idle = m_service.Settings().Read(setting::IdleTimeout);
        m_timers.StartIdleTimeout(idle * 60'000, [this] { OnIdleTimedOut(); });
        if (!greeting.isEmpty()) {
            SendText(text::kLineEnd);
            SendText(greeting.constData());
            SendText(text::kLineEnd);
        } else {
            const QByteArray loginOk = m_service.Settings().Read(setting::LoginOK).toUtf8();
            SendText(text::kLoginTextLead);
            SendText(loginOk.constData());
            SendText(text::kLineEnd);
        }
        SendHelp();
        SendPrompt();
        return;
    }
    // The answer comes a second later, on a timer; what the client types meanwhile waits
    // in the kernel for the next prompt. Other sessions go on.
    HoldInput(true);
    m_timers.DelayFailure([this] { AnswerRefusedLogin(); });
}

void CSessionSocket::AnswerRefusedLogin() {
    if (m_bClosing) return;
    HoldInput(false);
    SettingsStore& settings = m_service.Settings();
    const QByteArray loginFail = settings.Read(setting::LoginFail).toUtf8();
    const int limit = settings.Read(setting::FailedLogins);
    SendText(text::kLoginFailLead);
    SendText(loginFail.constData());
    SendText(text::kLoginFailTail);
    ++m_nFailedLogins;
    // At or past the limit: lowering "FailedLogins" during a session must not open the
    // door to unlimited attempts. 0 (or less) means no limit.
    if (limit > 0 && m_nFailedLogins >= limit) {
        m_service.Penalise(*this);
        Lock();
        return;
    }
    SendText(text::kUsernamePrompt);
    m_nState = STATE_USERNAME;
    ProcessInput();
}

void CSessionSocket::ExecuteCommand(const char* line) {
    QByteArray command(line);
    if (command.endsWith('\r')) command.chop(1);
    if (command.isEmpty()) {
        SendPrompt();
        return;
    }
    const char* word = command.constData();
    if (EqualsIgnoringAsciiCase(word, text::kCommandHelp)) {
        SendHelp();
        SendPrompt();
    } else if (EqualsIgnoringAsciiCase(word, text::kCommandReboot)) {
        ShutdownCommand(true);
    } else if (EqualsIgnoringAsciiCase(word, text::kCommandShutdown)) {
        ShutdownCommand(false);
    } else if (EqualsIgnoringAsciiCase(word, text::kCommandDos)) {
        StartDos();
    } else if (EqualsIgnoringAsciiCase(word, text::kCommandExit)) {
        SendText(text::kGoodbye);
        ShutdownSendSide();
    } else {
        SendText(text::kUnknownCommand);
        SendPrompt();
    }
}

void CSessionSocket::ShutdownCommand(bool reboot) {
    if (!m_bCanShutdown) {
        SendText(text::kNoPrivileges);
        SendPrompt();
        return;
    }
    RequestShutdownPrivilege();
    SendText(text::kShuttingDown);
    const unsigned flags =
        reboot ? kExitReboot : (m_bIsNT ? kExitShutdown : (kExitShutdown | kExitPowerOff));
    if (m_service.Power().ExitWindows(flags)) {
        ShutdownSendSide();
        return;
    }
    SendText(text::kShutdownFailed);
    SendPrompt();
}

void CSessionSocket::StartDos() {
    if (!m_bCanDos) {
        SendText(text::kNoPrivileges);
        SendPrompt();
        return;
    }
    // Read at every `dos`: a terminal for this run, or the pipes.
    const bool terminal = m_service.Settings().Read(setting::TerminalMode) != 0;
    std::unique_ptr<DosBridge> bridge;
    if (m_service.Bridges()) bridge = m_service.Bridges()(*this);
    if (!bridge) {
        SendText(text::kCreateProcessFailed);
        SendPrompt();
        return;
    }
    m_nState = STATE_DOS;
    m_pBridge = std::move(bridge);
    if (terminal) {
        // The type and size the client named at connect (or since); the bridge has defaults.
        m_pBridge->StartTerminal(m_protocol.TerminalType(), m_protocol.Columns(),
                                 m_protocol.Rows());
    } else {
        m_pBridge->Start();
    }
}

void CSessionSocket::BridgeEnded() {
    SendPrompt();
    m_nState = STATE_COMMAND;
    // A client whose stream has ended gets the rest of its output, then the session ends.
    if (m_bInputEnded) CloseOnceSent();
}

void CSessionSocket::SendHelp() {
    for (const char* line : text::kHelpLines) SendText(line);
}

void CSessionSocket::RequestShutdownPrivilege() {
    if (!m_bIsNT) return;
    SendText(text::kRequestingPrivileges);
    PowerControl& power = m_service.Power();
    // Every step runs whatever became of the one before; each failure is reported.
    const PrivilegeStepResult open = power.OpenProcessToken();
    ReportPrivilegeFailure(open.ok, open.errorCode, open.errorText.toLocal8Bit(),
                           text::kOpenTokenFailed.withText, text::kOpenTokenFailed.codeOnly);
    const PrivilegeStepResult lookup = power.LookupShutdownPrivilege();
    ReportPrivilegeFailure(lookup.ok, lookup.errorCode, lookup.errorText.toLocal8Bit(),
                           text::kLookupFailed.withText, text::kLookupFailed.codeOnly);
    const PrivilegeStepResult enable = power.EnableShutdownPrivilege();
    ReportPrivilegeFailure(enable.ok, enable.errorCode, enable.errorText.toLocal8Bit(),
                           text::kAdjustFailed.withText, text::kAdjustFailed.codeOnly);
}

void CSessionSocket::SetPeer(const orvane::PeerAddress& peer, LoginTicket ticket) {
    m_peer = peer;
    m_loginTicket = std::move(ticket);
}

void CSessionSocket::AwaitPeerName(std::unique_ptr<HostNameLookup::Pending> lookup) {
    m_pLookup = std::move(lookup);
    HoldInput(true);
}

void CSessionSocket::SetPeerName(const QByteArray& name) {
    CopyText(m_szPeerName, sizeof m_szPeerName, name.constData(), sizeof m_szPeerName - 1);
}

void CSessionSocket::HoldInput(bool hold) {
    m_bInputHeld = hold;
    if (!m_bRetired && !m_bInputPaused) m_socket->SetReceiveNotifications(!hold);
}

void CSessionSocket::Lock() {
    // Nothing more is read; the close is still noticed, and the slot freed at the latest
    // when the linger ends.
    m_nState = STATE_LOCKED;
    m_socket->SetDiscardInput(true);
    HoldInput(false);
    ShutdownSendSide();
}

void CSessionSocket::OnLoginTimedOut() {
    if (m_bClosing || (m_nState != STATE_USERNAME && m_nState != STATE_PASSWORD)) return;
    // A refused login's pending answer goes with it.
    m_timers.StopAll();
    SendText(text::kLoginTimedOut);
    m_service.LogActivity(m_szPeerName, text::kLoginTimedOutEntry);
    m_service.Penalise(*this);
    Lock();
}

void CSessionSocket::OnIdleTimedOut() {
    if (m_bClosing || m_bSendShut) return;
    if (m_pBridge && m_nState == STATE_DOS) {
        // Its shell ends as if the client had gone.
        m_pBridge->ClientClosed();
        m_nState = STATE_COMMAND;
    }
    SendText(text::kIdleTimeout);
    ShutdownSendSide();
}

void CSessionSocket::OnLingerOver() {
    if (m_bRetired) return;
    m_bClosing = 1;
    m_service.SessionClosed(*this);
}

void CSessionSocket::ReportPrivilegeFailure(bool ok, unsigned long code, const QByteArray& message,
                                            const char* withText, const char* codeOnly) {
    if (ok) return;
    const QByteArray report =
        message.isEmpty() ? Format(codeOnly, code) : Format(withText, code, message.constData());
    SendText(report.constData());
}

}  // namespace orvane
