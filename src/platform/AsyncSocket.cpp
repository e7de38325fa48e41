// Non-blocking POSIX sockets watched by QSocketNotifier, with TLS on the same notifiers.
#include "platform/AsyncSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/ListenFailure.h"
#include "platform/Logging.h"
#include "platform/TlsChannel.h"

namespace orvane {

AsyncConnection::AsyncConnection(int fd, AsyncSocketHandler& handler, QObject* parent)
    : QObject(parent),
      m_fd(fd),
      m_handler(handler),
      m_readNotifier(fd, QSocketNotifier::Read),
      m_writeNotifier(fd, QSocketNotifier::Write) {
    m_writeNotifier.setEnabled(false);
    connect(&m_readNotifier, &QSocketNotifier::activated, this, [this] { HandleReadable(); });
    connect(&m_writeNotifier, &QSocketNotifier::activated, this, [this] { HandleWritable(); });
}

AsyncConnection::~AsyncConnection() {
    Close();
}

long AsyncConnection::Send(const char* data, long length) {
    if (m_fd < 0) {
        errno = ENOTCONN;
        return -1;
    }
    if (m_tls) {
        if (m_closeReported && !m_tls->IsEstablished()) {
            errno = EPIPE;
            return -1;
        }
        if (!m_tls->IsEstablished()) {
            errno = EAGAIN;
            return -1;
        }
        long sent = 0;
        switch (m_tls->Write(data, length, &sent)) {
            case TlsChannel::Status::Done:
                return sent;
            case TlsChannel::Status::WantRead:
                m_sendNeedsRead = true;
                UpdateNotifiers();
                errno = EAGAIN;
                return -1;
            case TlsChannel::Status::WantWrite:
                errno = EAGAIN;
                return -1;
            default:
                errno = m_tls->TransportError() != 0 ? m_tls->TransportError() : EPIPE;
                return -1;
        }
    }
    // A peer that has gone must not take the process down with SIGPIPE.
    const ssize_t sent = ::send(m_fd, data, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (sent < 0 && errno == EWOULDBLOCK) errno = EAGAIN;
    return static_cast<long>(sent);
}

long AsyncConnection::Receive(char* buffer, long length) {
    if (m_fd < 0) {
        errno = ENOTCONN;
        return -1;
    }
    if (m_tls) {
        if (!m_tls->IsEstablished() || length <= 0) {
            errno = EAGAIN;
            return -1;
        }
        if (!m_tlsInput.isEmpty()) {
            const long take = std::min<long>(length, m_tlsInput.size());
            std::memcpy(buffer, m_tlsInput.constData(), size_t(take));
            m_tlsInput.remove(0, take);
            m_tlsTaken = true;
            return take;
        }
        long got = 0;
        switch (m_tls->Read(buffer, length, &got)) {
            case TlsChannel::Status::Done:
                m_tlsTaken = true;
                return got;
            case TlsChannel::Status::Closed:
                return 0;
            case TlsChannel::Status::WantWrite:
                m_tlsNeedsWrite = true;
                UpdateNotifiers();
                [[fallthrough]];
            case TlsChannel::Status::WantRead:
                errno = EAGAIN;
                return -1;
            default:
                errno = m_tls->TransportError() != 0 ? m_tls->TransportError() : ECONNRESET;
                return -1;
        }
    }
    const ssize_t got = ::recv(m_fd, buffer, static_cast<size_t>(length), 0);
    if (got < 0 && errno == EWOULDBLOCK) errno = EAGAIN;
    return static_cast<long>(got);
}

bool AsyncConnection::ShutdownSend() {
    if (m_fd < 0) return false;
    // The encrypted stream says goodbye inside first, so the client can tell an end from a
    // cut; when the kernel has no room for it, the end of the stream still follows.
    if (m_tls && m_tls->IsEstablished()) m_tls->Shutdown();
    return ::shutdown(m_fd, SHUT_WR) == 0;
}

void AsyncConnection::Close() {
    if (m_fd < 0) return;
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    m_tls.reset();
    ::close(m_fd);
    m_fd = -1;
}

void AsyncConnection::StartTls(const TlsServerContext& context) {
    if (m_fd < 0 || m_tls) return;
    m_tls = std::make_unique<TlsChannel>(context, m_fd);
    UpdateNotifiers();
}

QString AsyncConnection::TlsDescription() const {
    return m_tls ? m_tls->Description() : QString();
}

void AsyncConnection::UpdateNotifiers() {
    if (m_fd < 0) return;
    if (!m_tls) {
        m_readNotifier.setEnabled(m_receiveOn && !m_closeReported);
        m_writeNotifier.setEnabled(m_sendWanted);
        return;
    }
    const bool handshaking = !m_tls->IsEstablished();
    m_readNotifier.setEnabled(!m_closeReported && (m_receiveOn || handshaking || m_sendNeedsRead));
    // The caller's wish to send waits for the handshake, and for a write that needs a read.
    m_writeNotifier.setEnabled(
        !m_closeReported &&
        (m_tlsNeedsWrite || (m_sendWanted && !handshaking && !m_sendNeedsRead)));
}

void AsyncConnection::SetReceiveNotifications(bool on) {
    m_receiveOn = on;
    UpdateNotifiers();
    if (on && HasTlsInput()) {
        m_tlsTaken = true;
        QueueTlsRead();
    }
}

void AsyncConnection::SetSendNotifications(bool on) {
    m_sendWanted = on;
    UpdateNotifiers();
}

void AsyncConnection::ReportClose(int error) {
    // The close is reported once; a level-triggered notifier would repeat it for ever.
    m_closeReported = true;
    m_tlsNeedsWrite = false;
    m_sendNeedsRead = false;
    m_readNotifier.setEnabled(false);
    UpdateNotifiers();
    m_handler.OnClose(error);
}

bool AsyncConnection::HasTlsInput() const {
    return m_tls && m_tls->IsEstablished() && (!m_tlsInput.isEmpty() || m_tls->HasBufferedInput());
}

void AsyncConnection::QueueTlsRead() {
    if (m_tlsReadQueued) return;
    m_tlsReadQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_tlsReadQueued = false;
            // A handler that took nothing last time is asked again only on news, as the
            // kernel would do; otherwise this would ask it for ever.
            if (m_tlsInput.isEmpty() || m_tlsTaken) HandleReadable();
        },
        Qt::QueuedConnection);
}

void AsyncConnection::StepHandshake() {
    const TlsChannel::Status status = m_tls->Handshake();
    m_tlsNeedsWrite = status == TlsChannel::Status::WantWrite;
    if (status == TlsChannel::Status::WantRead || status == TlsChannel::Status::WantWrite) {
        UpdateNotifiers();
        return;
    }
    if (status != TlsChannel::Status::Done) {
        m_closeReported = true;
        UpdateNotifiers();
        m_handler.OnHandshakeFailed(m_tls->FailureReason());
        return;
    }
    UpdateNotifiers();
    // The client may have sent its first line with its last handshake message.
    m_tlsTaken = true;
    QueueTlsRead();
    m_handler.OnSecured(m_tls->Description());
}

void AsyncConnection::ReadTlsRecord() {
    if (m_tlsInput.isEmpty()) {
        char buffer[16384];
        long got = 0;
        const TlsChannel::Status status = m_tls->Read(buffer, sizeof buffer, &got);
        switch (status) {
            case TlsChannel::Status::Done:
                m_tlsInput.append(buffer, int(got));
                break;
            case TlsChannel::Status::WantRead:
            case TlsChannel::Status::WantWrite:
                m_tlsNeedsWrite = status == TlsChannel::Status::WantWrite;
                UpdateNotifiers();
                return;
            case TlsChannel::Status::Closed:
                ReportClose(0);
                return;
            default:
                ReportClose(m_tls->TransportError() != 0 ? m_tls->TransportError() : ECONNRESET);
                return;
        }
    }
    if (m_discardInput) {
        m_tlsInput.clear();
        QueueTlsRead();
        return;
    }
    // Asked again from the loop, in case the handler leaves bytes or the channel holds more;
    // a check that finds nothing costs one look at the socket.
    m_tlsTaken = false;
    QueueTlsRead();
    m_handler.OnReceive(0);
}

void AsyncConnection::HandleReadable() {
    if (m_fd < 0 || m_closeReported) return;
    if (m_tls) {
        if (m_sendNeedsRead) {
            m_sendNeedsRead = false;
            UpdateNotifiers();
        }
        if (!m_tls->IsEstablished()) {
            StepHandshake();
        } else if (m_receiveOn) {
            ReadTlsRecord();
        }
        return;
    }
    if (!m_receiveOn) return;
    char probe[4096];
    ssize_t got = 0;
    if (m_discardInput) {
        got = ::recv(m_fd, probe, sizeof probe, 0);
        if (got > 0 || (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))) {
            return;
        }
    } else {
        // Data first, the end of the stream after it, as the kernel orders them.
        got = ::recv(m_fd, probe, 1, MSG_PEEK);
        if (got > 0) {
            m_handler.OnReceive(0);
            return;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    }
    // 0 for the peer's orderly end of its stream (errno is stale then), else the error.
    ReportClose(got == 0 ? 0 : errno);
}

void AsyncConnection::HandleWritable() {
    if (m_fd < 0) return;
    if (m_tls && m_tlsNeedsWrite) {
        m_tlsNeedsWrite = false;
        UpdateNotifiers();
        if (!m_tls->IsEstablished()) {
            StepHandshake();
        } else {
            HandleReadable();
        }
        return;
    }
    m_handler.OnSendReady();
}

AsyncListener::AsyncListener(QObject* parent) : QObject(parent) {}

AsyncListener::~AsyncListener() {
    delete m_notifier;
    if (m_fd >= 0) ::close(m_fd);
}

bool AsyncListener::Listen(int port) {
    return Listen(QString(), port);
}

bool AsyncListener::Fail(int fd, const QString& reason) {
    if (fd >= 0) ::close(fd);
    m_failureReason = reason;
    return false;
}

bool AsyncListener::Listen(const QString& address, int port) {
    m_failureReason.clear();
    if (m_fd >= 0) return Fail(-1, QStringLiteral("The server is already listening."));
    if (port < 0 || port > 65535) {
        return Fail(-1, QStringLiteral("The port number %1 is invalid.").arg(port));
    }
    const QString text = address.trimmed();
    sockaddr_storage bound{};
    socklen_t boundLength = 0;
    if (text.isEmpty()) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&bound);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_ANY);
        boundLength = sizeof *v4;
    } else {
        // Numeric only: a host name here would mean a lookup that can hold the start.
        addrinfo hints{};
        hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(text.toUtf8().constData(), nullptr, &hints, &found) != 0 || !found) {
            return Fail(-1, QStringLiteral("\"%1\" is not an IPv4 or IPv6 address.").arg(text));
        }
        boundLength = found->ai_addrlen;
        std::memcpy(&bound, found->ai_addr, boundLength);
        ::freeaddrinfo(found);
    }
    const int family = bound.ss_family;
    if (family == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&bound)->sin_port = htons(static_cast<uint16_t>(port));
    } else {
        reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port = htons(static_cast<uint16_t>(port));
    }
    // "Port 23: permission denied — ports below 1024 need root or CAP_NET_BIND_SERVICE",
    // naming the address too when one was asked for.
    const auto failure = [&] { return ListenFailureLine(port, errno, text); };
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return Fail(-1, failure());
    SetSocketOption(fd, SOL_SOCKET, SO_REUSEADDR, 1, "SO_REUSEADDR");
    if (family == AF_INET6) {
        // "::" takes IPv4 clients too, whatever the system's default; a single IPv6
        // address takes only its own family.
        const int v6only =
            IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<sockaddr_in6*>(&bound)->sin6_addr) ? 0 : 1;
        SetSocketOption(fd, IPPROTO_IPV6, IPV6_V6ONLY, v6only, "IPV6_V6ONLY");
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&bound), boundLength) != 0) {
        const QString reason = failure();
        return Fail(fd, reason);
    }
    if (::listen(fd, SOMAXCONN) != 0) {
        const QString reason = failure();
        return Fail(fd, reason);
    }
    m_fd = fd;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { emit acceptReady(); });
    return true;
}

int AsyncListener::BoundPort() const {
    if (m_fd < 0) return 0;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

QString AsyncListener::BoundAddress() const {
    if (m_fd < 0) return {};
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        return QStringLiteral("[%1]:%2").arg(QLatin1String(text)).arg(ntohs(v6.sin6_port));
    }
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    return QStringLiteral("%1:%2").arg(QLatin1String(text)).arg(ntohs(v4.sin_port));
}

int AsyncListener::Accept(PeerAddress* peer) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int fd = AcceptInto(reinterpret_cast<sockaddr*>(&address), &length);
    if (fd >= 0 && peer)
        *peer = PeerAddress::FromSockaddr(reinterpret_cast<sockaddr*>(&address), length);
    return fd;
}

int AsyncListener::Accept(sockaddr_in* peer) {
    PeerAddress from;
    const int fd = Accept(&from);
    if (fd >= 0 && peer) {
        sockaddr_storage address{};
        from.ToSockaddr(&address);
        *peer = sockaddr_in{};
        if (address.ss_family == AF_INET) std::memcpy(peer, &address, sizeof *peer);
    }
    return fd;
}

/* Out of descriptors is exactly when this runs its Qt calls, and the undefined-behaviour
   checker's type check needs spare descriptors of its own (it probes memory through a pipe):
   it would report every call here as one on a broken object. The calls are on members this
   listener created itself. */
__attribute__((no_sanitize("vptr"))) int AsyncListener::AcceptInto(sockaddr* peer,
                                                                   socklen_t* length) {
    if (m_fd < 0) return -1;
    const int fd = ::accept4(m_fd, peer, length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
        ApplyKeepAlive(fd);
        return fd;
    }
    if (errno == EMFILE || errno == ENFILE) {
        /* The connection stays queued and the socket stays readable: watching it now would
           wake us for ever without progress. Look again once descriptors may be free. */
        const int error = errno;
        if (m_notifier) m_notifier->setEnabled(false);
        if (!m_backoff) {
            m_backoff = new QTimer(this);
            m_backoff->setSingleShot(true);
            connect(m_backoff, &QTimer::timeout, this, [this] {
                if (m_notifier) m_notifier->setEnabled(true);
            });
        }
        m_backoff->start(kDescriptorBackoffMs);
        errno = error;
    }
    return -1;
}

bool AsyncListener::IsWatching() const {
    return m_notifier && m_notifier->isEnabled();
}

void ApplyKeepAlive(int fd) {
    SetSocketOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1, "SO_KEEPALIVE");
    SetSocketOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, 60, "TCP_KEEPIDLE");
    SetSocketOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, 10, "TCP_KEEPINTVL");
    SetSocketOption(fd, IPPROTO_TCP, TCP_KEEPCNT, 6, "TCP_KEEPCNT");
    SetSocketOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, 120'000, "TCP_USER_TIMEOUT");
}

void SetSocketOption(int fd, int level, int name, int value, const char* what) {
    if (::setsockopt(fd, level, name, &value, sizeof value) != 0) {
        qCDebug(lcPlatform, "socket option %s not set: %s", what, std::strerror(errno));
    }
}

}  // namespace orvane
