// Non-blocking POSIX sockets watched by QSocketNotifier.
#include "platform/AsyncSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

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
    const ssize_t got = ::recv(m_fd, buffer, static_cast<size_t>(length), 0);
    if (got < 0 && errno == EWOULDBLOCK) errno = EAGAIN;
    return static_cast<long>(got);
}

bool AsyncConnection::ShutdownSend() {
    return m_fd >= 0 && ::shutdown(m_fd, SHUT_WR) == 0;
}

void AsyncConnection::Close() {
    if (m_fd < 0) return;
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    ::close(m_fd);
    m_fd = -1;
}

void AsyncConnection::SetReceiveNotifications(bool on) {
    m_receiveOn = on;
    if (m_fd >= 0 && !m_closeReported) m_readNotifier.setEnabled(on);
}

void AsyncConnection::SetSendNotifications(bool on) {
    if (m_fd >= 0) m_writeNotifier.setEnabled(on);
}

void AsyncConnection::HandleReadable() {
    if (m_fd < 0 || !m_receiveOn || m_closeReported) return;
    char probe[4096];
    if (m_discardInput) {
        const ssize_t got = ::recv(m_fd, probe, sizeof probe, 0);
        if (got > 0 || (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))) {
            return;
        }
    } else {
        // Data first, the end of the stream after it, as the kernel orders them.
        const ssize_t got = ::recv(m_fd, probe, 1, MSG_PEEK);
        if (got > 0) {
            m_handler.OnReceive(0);
            return;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    }
    const int error = errno;
    // The close is reported once; a level-triggered notifier would repeat it for ever.
    m_closeReported = true;
    m_readNotifier.setEnabled(false);
    m_handler.OnClose(error);
}

void AsyncConnection::HandleWritable() {
    if (m_fd < 0) return;
    m_handler.OnSendReady();
}

AsyncListener::AsyncListener(QObject* parent) : QObject(parent) {}

AsyncListener::~AsyncListener() {
    delete m_notifier;
    if (m_fd >= 0) ::close(m_fd);
}

bool AsyncListener::Listen(int port) {
    if (m_fd >= 0 || port < 0 || port > 65535) return false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, SOMAXCONN) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { emit acceptReady(); });
    return true;
}

int AsyncListener::BoundPort() const {
    if (m_fd < 0) return 0;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

int AsyncListener::Accept(sockaddr_in* peer) {
    if (m_fd < 0) return -1;
    socklen_t length = sizeof *peer;
    return ::accept4(m_fd, reinterpret_cast<sockaddr*>(peer), &length,
                     SOCK_NONBLOCK | SOCK_CLOEXEC);
}

}  // namespace orvane
