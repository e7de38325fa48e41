// The session: line input, echo, login, the command shell and the bridge's endpoint.
#include "telnet/SessionSocket.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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
                               const QByteArray& peerName)
    : m_service(service),
      m_socket(std::make_unique<AsyncConnection>(fd, *this)),
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

int CSessionSocket::SendMasked(const char* data, int length) {
    int count = length;
    if (std::memchr(data, '\r', static_cast<size_t>(length))) --count;
    if (std::memchr(data, '\n', static_cast<size_t>(length))) --count;
    if (count <= 0) return 1;
    const QByteArray stars(count, '*');
    return SendToClient(stars.constData(), count);
}

int CSessionSocket::SendPrompt() {
    return SendText(text::kPrompt);
}

int CSessionSocket::SendGreeting() {
    const QByteArray greeting = QByteArray(text::kGreetingFormat).replace("%s", text::kVersion);
    SendText(greeting.constData());
    SendText(text::kLineEnd);
    SendText(text::kUsernamePrompt);
    m_nLineLen = 0;
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

void CSessionSocket::StripLineFeeds(char* data, int* length) {
    char* out = data;
    for (int i = 0; i < *length; ++i) {
        if (data[i] != '\n') *out++ = data[i];
    }
    *length = static_cast<int>(out - data);
}

void CSessionSocket::OnReceive(int errorCode) {
    if (errorCode != 0 || m_nState == STATE_LOCKED || m_bClosing) return;
    const long got = m_socket->Receive(m_received, ReceiveRoom());
    if (got < 0 && errno == EAGAIN) return;
    if (got <= 0) {
        m_bClosing = 1;
        return;
    }
    m_timers.NoteInput();
    ReceiveFromClient(m_received, static_cast<int>(got));
}

int CSessionSocket::ReceiveRoom() const {
    // A line takes what fits behind its start; raw mode a whole buffer at a time.
    if (m_nState == STATE_DOS) return kLineBufferSize - 1;
    return kLineBufferSize - 1 - m_nLineLen;
}

void CSessionSocket::ReceiveFromClient(const char* data, int length) {
    if (m_nState == STATE_DOS) {
        ReceiveRaw(data, length);
    } else {
        ReceiveLine(data, length);
    }
}

bool CSessionSocket::EchoOn() {
    // Read at every chunk: a change takes effect at once for live sessions.
    return m_service.Settings().Read(setting::EchoBack) != 0;
}

void CSessionSocket::ReceiveRaw(const char* data, int length) {
    const bool endsWithReturn = data[length - 1] == '\r';
    if (!m_pBridge) return;
    // Linux counts as the NT family, where the server itself echoes in raw mode: what the
    // interpreter accepted, as it was typed.
    const bool echo = EchoOn();
    // The client's Enter reaches the interpreter as CR LF whether the LF came along or not.
    if (data[0] == '\n') {
        ++data;
        --length;
    }
    if (length > 0 && m_pBridge->WriteToInterpreter(data, length) && echo) {
        SendToClient(data, length);
    }
    if (endsWithReturn && m_nState == STATE_DOS && m_pBridge &&
        m_pBridge->WriteToInterpreter("\n", 1) && echo) {
        SendToClient("\n", 1);
    }
}

void CSessionSocket::ReceiveLine(const char* data, int length) {
    std::memcpy(m_szLine + m_nLineLen, data, static_cast<size_t>(length));
    int count = length;
    StripLineFeeds(m_szLine + m_nLineLen, &count);
    if (count == 0) return;
    const bool echo = EchoOn();
    if (echo) {
        if (m_nState == STATE_PASSWORD) {
            SendMasked(m_szLine + m_nLineLen, count);
        } else {
            SendBuffer(m_szLine + m_nLineLen, count);
        }
    }
    m_nLineLen += count;
    if (m_szLine[m_nLineLen - 1] != '\r' && m_nLineLen <= kMaxLineLength) return;
    if (echo) SendBuffer("\n", 1);
    // Over the carriage return, or over the newest byte of a line completed by length.
    m_szLine[m_nLineLen - 1] = '\0';
    if (!m_bRetired) HandleCompletedLine();
    m_nLineLen = 0;
}

void CSessionSocket::HandleCompletedLine() {
    // The handlers get their own copy, apart from the buffer the next bytes go into.
    const QByteArray line(m_szLine);
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

void CSessionSocket::OnClose(int /*errorCode*/) {
    m_bClosing = 1;
    if (m_bRetired) return;
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
    m_nLineLen = 0;
    m_nState = STATE_USERNAME;
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
    std::unique_ptr<DosBridge> bridge;
    if (m_service.Bridges()) bridge = m_service.Bridges()(*this);
    if (!bridge) {
        SendText(text::kCreateProcessFailed);
        SendPrompt();
        return;
    }
    m_nState = STATE_DOS;
    m_pBridge = std::move(bridge);
    m_pBridge->Start();
}

void CSessionSocket::BridgeEnded() {
    SendPrompt();
    m_nState = STATE_COMMAND;
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
