// The listener, the registry of ten sessions, and what the sessions ask of the server.
#include "telnet/TelnetService.h"

#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHostInfo>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "config/ActivityLog.h"
#include "config/DataDirectory.h"
#include "config/FileLocations.h"
#include "config/SettingsStore.h"
#include "platform/AsyncSocket.h"
#include "platform/Clock.h"
#include "platform/SoundPlayer.h"
#include "platform/TlsCertificate.h"
#include "platform/TlsServerContext.h"
#include "telnet/ClientTexts.h"
#include "telnet/DosBridge.h"
#include "telnet/SessionSocket.h"
#include "telnet/TelnetProtocol.h"
#include "users/UserMatching.h"
#include "users/UserRecord.h"

namespace orvane {

namespace {
QByteArray WithName(const char* format, const QByteArray& name) {
    return QByteArray(format).replace("%s", name);
}
}  // namespace

TelnetService::TelnetService(SettingsStore& settings, const FileLocations& locations,
                             const UserTable& users, ActivityLog& log, ServerServices services,
                             QObject* parent)
    : QObject(parent),
      m_settings(settings),
      m_locations(locations),
      m_users(users),
      m_log(log),
      m_services(services),
      m_clock(services.clock ? services.clock : &SystemClock::Instance()),
      m_guard(*m_clock),
      m_lookup(*m_clock),
      m_nOutputLimit(CSessionSocket::kDefaultOutputLimit) {}

TelnetService::~TelnetService() {
    m_pListenSocket.reset();
    m_pTlsListenSocket.reset();
    for (auto& session : m_pSessions) {
        if (session) session->Retire();
    }
}

int TelnetService::StartServer() {
    m_startFailure.clear();
    if (IsListening()) {
        m_startFailure = QStringLiteral("The server is already listening.");
        return 0;
    }
    const QString address = Settings().Read(setting::ListenAddress);
    const bool encrypted = Settings().Read(setting::TlsEnable) != 0;
    const bool plain = !encrypted || Settings().Read(setting::TlsOnly) == 0;
    std::unique_ptr<TlsServerContext> context;
    if (encrypted) {
        context = LoadTlsContext();
        if (!context) return 0;
    }
    // Both ports or neither: a half-started server would look started to the operator.
    std::unique_ptr<AsyncListener> listener;
    if (plain) {
        listener = std::make_unique<AsyncListener>();
        if (!listener->Listen(address, Settings().Read(setting::PortNr))) {
            m_startFailure = listener->FailureReason();
            return 0;
        }
        connect(listener.get(), &AsyncListener::acceptReady, this,
                &TelnetService::AcceptConnection);
    }
    std::unique_ptr<AsyncListener> tlsListener;
    if (encrypted) {
        tlsListener = std::make_unique<AsyncListener>();
        if (!tlsListener->Listen(address, Settings().Read(setting::TlsPortNr))) {
            m_startFailure = tlsListener->FailureReason();
            return 0;
        }
        connect(tlsListener.get(), &AsyncListener::acceptReady, this,
                &TelnetService::AcceptEncryptedConnection);
    }
    m_pListenSocket = std::move(listener);
    m_pTlsListenSocket = std::move(tlsListener);
    m_tlsContext = std::move(context);
    if (m_tlsContext) {
        // At every start, so that the log always holds what users should compare against.
        const QByteArray who =
            QByteArray(text::kTlsPortFormat).replace("%d", QByteArray::number(TlsBoundPort()));
        LogActivity(who.constData(),
                    WithName(text::kTlsFingerprintFormat, m_tlsContext->Fingerprint().toLatin1())
                        .constData());
    }
    return 1;
}

std::unique_ptr<TlsServerContext> TelnetService::LoadTlsContext() {
    QString certificate = Settings().Read(setting::TlsCertFile);
    QString key = Settings().Read(setting::TlsKeyFile);
    QString reason;
    if (certificate.isEmpty() && key.isEmpty()) {
        const auto pair = ProvideSelfSignedPair(UserDataDirectory(), QHostInfo::localHostName(),
                                                LocalHostAddresses(), &reason);
        if (!pair) {
            m_startFailure = reason;
            return nullptr;
        }
        certificate = pair->certificateFile;
        key = pair->keyFile;
    } else if (certificate.isEmpty()) {
        m_startFailure = QStringLiteral("a key file is set but no certificate file");
        return nullptr;
    } else if (key.isEmpty()) {
        // One PEM file may hold both.
        key = certificate;
    }
    auto context = TlsServerContext::Load(certificate, key, &reason);
    if (!context) m_startFailure = reason;
    return context;
}

int TelnetService::StopServer() {
    if (!IsListening()) return 0;
    m_pListenSocket.reset();
    m_pTlsListenSocket.reset();
    for (int slot = 0; slot < kMaxSessions; ++slot) {
        if (!m_pSessions[slot]) continue;
        // The dotted address, not the display name: what the server itself knows. A
        // session still waiting for its name was never announced, so it leaves quietly.
        if (m_pSessions[slot]->IsGreeted()) ConnectionClosed(m_pSessions[slot]->PeerAddress());
        RetireSlot(slot);
    }
    // Each connection holds its own reference to what it needs of the context.
    m_tlsContext.reset();
    return 1;
}

bool TelnetService::IsListening() const {
    return m_pListenSocket != nullptr || m_pTlsListenSocket != nullptr;
}

QString TelnetService::TlsFingerprint() const {
    return m_pTlsListenSocket && m_tlsContext ? m_tlsContext->Fingerprint() : QString();
}

int TelnetService::TlsBoundPort() const {
    return m_pTlsListenSocket ? m_pTlsListenSocket->BoundPort() : 0;
}

int TelnetService::ConnectionCount() const {
    return m_nConnections;
}

int TelnetService::BoundPort() const {
    return m_pListenSocket ? m_pListenSocket->BoundPort() : 0;
}

QString TelnetService::ListeningAddress() const {
    return m_pListenSocket ? m_pListenSocket->BoundAddress() : QString();
}

int TelnetService::BlockedSessionCount() const {
    int count = 0;
    for (const auto& session : m_pSessions) {
        if (session && session->IsOutputBlocked()) ++count;
    }
    return count;
}

void TelnetService::AcceptConnection() {
    if (m_pListenSocket) Accept(*m_pListenSocket, false);
}

void TelnetService::AcceptEncryptedConnection() {
    if (m_pTlsListenSocket && m_tlsContext) Accept(*m_pTlsListenSocket, true);
}

void TelnetService::Accept(AsyncListener& listener, bool encrypted) {
    orvane::PeerAddress peer;
    const int fd = listener.Accept(&peer);
    if (fd < 0) return;
    int slot = 0;
    while (slot < kMaxSessions && m_pSessions[slot]) ++slot;
    const AccessGuard::Verdict verdict =
        m_guard.Admit(peer, slot < kMaxSessions, Settings().Read(setting::PenaltyEnable) != 0);
    if (verdict.refusal != AccessGuard::Refusal::None) {
        // All ten taken, a penalty, or too many logins from there: the client is closed
        // before it costs anything, without a word; the operator hears of it now and then.
        ::close(fd);
        if (verdict.log) LogActivity(peer.Text(), AccessGuard::RefusalText(verdict.refusal));
        return;
    }
    SetSocketOption(fd, IPPROTO_TCP, TCP_NODELAY, 1, "TCP_NODELAY");
    // A client's synch after an interrupt sends its data mark as urgent data: kept in the
    // stream, it is an ignored command; taken out, its IAC would swallow the next byte.
    SetSocketOption(fd, SOL_SOCKET, SO_OOBINLINE, 1, "SO_OOBINLINE");

    // In terminal mode the server's own offers go first, before "Please Wait...": read at
    // every connect.
    const TelnetPolicy policy{Settings().Read(setting::TerminalMode) != 0,
                              Settings().Read(setting::EchoBack) != 0};
    TelnetProtocol protocol(policy);
    protocol.StartNegotiation();
    const QByteArray opening = protocol.TakeReplies() + text::kPleaseWait;

    // The client sees this before the name lookup, which may take a while. A new
    // connection's send buffer takes these few bytes; whatever it would not is queued by
    // the session ahead of everything else. An encrypted client gets it, like everything,
    // once the handshake is done.
    const long waitLength = static_cast<long>(opening.size());
    const long sent = encrypted
                          ? 0
                          : std::max(0L, static_cast<long>(::send(fd, opening.constData(),
                                                                  static_cast<size_t>(waitLength),
                                                                  MSG_NOSIGNAL | MSG_DONTWAIT)));
    const QByteArray dotted = peer.Text();
    m_pSessions[slot] =
        std::make_unique<CSessionSocket>(*this, fd, slot, dotted, dotted, std::move(protocol));
    CSessionSocket& session = *m_pSessions[slot];
    session.SetOutputLimit(m_nOutputLimit);
    session.SetPeer(peer, m_guard.StartLogin(peer));
    // The handshake runs while the session stands at its first prompt, so the slot and the
    // login timeout cover it like a client that has not typed its name yet.
    if (encrypted) session.StartTls(*m_tlsContext);
    if (sent < waitLength) {
        session.SendBuffer(opening.constData() + sent, static_cast<int>(waitLength - sent));
    }
    if (Settings().Read(setting::ReverseDNS) != 1) {
        GreetSession(session, dotted);
        return;
    }
    // The lookup runs elsewhere; this session alone waits for it (its input held), while
    // the other sessions, the listener and the window go on.
    session.AwaitPeerName(m_lookup.Start(
        peer, [this, &session](const QByteArray& name) { GreetSession(session, name); }));
}

void TelnetService::GreetSession(CSessionSocket& session, const QByteArray& name) {
    if (session.IsRetired()) return;
    session.SetPeerName(name);
    LogActivity(session.PeerName(), text::kLoggingIn);
    ++m_nConnections;
    emit connectionCountChanged(m_nConnections);
    session.SendGreeting();
}

QByteArray TelnetService::ResolvePeerName(const char* dotted) {
    // The blocking form, for callers that may wait; new sessions use the lookup instead.
    if (Settings().Read(setting::ReverseDNS) == 1) {
        const QByteArray name = HostNameLookup::SystemResolve(PeerAddress::FromText(dotted));
        if (!name.isEmpty()) return name;
    }
    return QByteArray(dotted);
}

void TelnetService::ConnectionClosed(const char* who) {
    LogActivity(who, text::kConnectionTerminated);
    if (Settings().Read(setting::S2Enable) != 0) {
        m_services.sound.PlayAsync(Settings().Read(setting::S2FileName, m_locations));
    }
    --m_nConnections;
    emit connectionCountChanged(m_nConnections);
}

void TelnetService::HandshakeFailed(CSessionSocket& session, const QString& reason) {
    LogActivity(session.PeerName(),
                WithName(text::kTlsHandshakeFailedFormat, reason.toUtf8()).constData());
    // Like a login timeout or a failed-login lock: the address is put in a penalty.
    Penalise(session);
}

void TelnetService::SessionClosed(CSessionSocket& session) {
    if (session.IsGreeted()) ConnectionClosed(session.PeerName());
    const int slot = session.Slot();
    if (slot >= 0 && slot < kMaxSessions && m_pSessions[slot].get() == &session) RetireSlot(slot);
}

void TelnetService::Penalise(const CSessionSocket& session) {
    m_guard.Penalise(session.Peer(), Settings().Read(setting::PenaltyEnable) != 0);
}

void TelnetService::RetireSlot(int slot) {
    std::unique_ptr<CSessionSocket> session = std::move(m_pSessions[slot]);
    session->Retire();
    // Never destroyed here: the caller may be one of its own handlers.
    m_retired.push_back(std::move(session));
    ScheduleDestruction();
}

void TelnetService::ScheduleDestruction() {
    if (m_bDestructionQueued) return;
    m_bDestructionQueued = true;
    QMetaObject::invokeMethod(this, &TelnetService::DestroyRetiredSessions, Qt::QueuedConnection);
}

void TelnetService::DestroyRetiredSessions() {
    m_bDestructionQueued = false;
    // Nothing of theirs runs now: every handler returns to the event loop before this.
    std::vector<std::unique_ptr<CSessionSocket>> done;
    done.swap(m_retired);
}

int TelnetService::CheckLogin(const char* who, const char* user, const char* password, int* canDos,
                              int* canShutdown, QByteArray* greeting) {
    const UserTable& users = m_users;
    const int slot = FindLoginRecord(users, user, password);
    if (slot < 0) {
        LogActivity(who, WithName(text::kLoginAsFailed, user).constData());
        return 0;
    }
    LogActivity(who, WithName(text::kLoggedInAs, user).constData());
    if (Settings().Read(setting::S1Enable) != 0) {
        m_services.sound.PlayAsync(Settings().Read(setting::S1FileName, m_locations));
    }
    const UserRecord& record = users.records[slot];
    *canDos = record.canUseDos;
    *canShutdown = record.canShutdown;
    *greeting = QByteArray(record.greeting);
    return 1;
}

void TelnetService::LogActivity(const char* who, const char* what) {
    m_log.LogActivity(QByteArray(who), QByteArray(what));
}

}  // namespace orvane
