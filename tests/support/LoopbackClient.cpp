// The loopback test client.
#include "LoopbackClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cerrno>

#include "AddressedConnection.h"

namespace orvane::test {

namespace {
void PumpOnce(int fd) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Sleep briefly on the client's own socket instead of spinning.
    if (fd >= 0) {
        pollfd entry{fd, POLLIN, 0};
        ::poll(&entry, 1, 1);
    } else {
        ::usleep(500);
    }
}
}  // namespace

bool PumpUntil(const std::function<bool()>& condition, int timeoutMs, int fd) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        PumpOnce(fd);
    }
    return true;
}

void PumpFor(int ms, int fd) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) PumpOnce(fd);
}

LoopbackClient::~LoopbackClient() {
    Close();
}

int OpenLoopbackConnection(int port, int receiveBuffer, bool nonBlocking) {
    const int fd =
        ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
    if (fd < 0) return -1;
    if (receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        !(nonBlocking && errno == EINPROGRESS)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool LoopbackClient::Connect(int port, int receiveBuffer) {
    m_fd = OpenLoopbackConnection(port, receiveBuffer, true);
    if (m_fd < 0) return false;
    return PumpUntil([this] {
        pollfd entry{m_fd, POLLOUT, 0};
        return ::poll(&entry, 1, 0) == 1;
    });
}

bool LoopbackClient::ConnectFrom(const char* source, const char* target, int port) {
    m_fd = ::orvane::test::ConnectFrom(source, target, port);
    if (m_fd < 0) return false;
    return PumpUntil([this] {
        pollfd entry{m_fd, POLLOUT, 0};
        return ::poll(&entry, 1, 0) == 1;
    });
}

long LoopbackClient::TrySend(const QByteArray& bytes) {
    const ssize_t sent = ::send(m_fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    return sent;
}

bool LoopbackClient::Send(const QByteArray& bytes) {
    qsizetype position = 0;
    bool failed = false;
    PumpUntil(
        [&] {
            const long sent = TrySend(bytes.mid(position));
            if (sent < 0) failed = true;
            if (sent > 0) position += sent;
            return failed || position == bytes.size();
        },
        2000, m_fd);
    return !failed && position == bytes.size();
}

bool LoopbackClient::SendBytewise(const QByteArray& bytes) {
    for (char byte : bytes) {
        if (!Send(QByteArray(1, byte))) return false;
        // Let the server take this byte as its own chunk before the next one goes.
        PumpFor(2, m_fd);
    }
    return true;
}

void LoopbackClient::ReadAvailable() {
    if (m_fd < 0) return;
    char buffer[65536];
    for (int i = 0; i < 1024; ++i) {
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (got > 0) {
            m_received.append(buffer, got);
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            m_ended = true;
        }
        return;
    }
}

bool LoopbackClient::WaitFor(const QByteArray& text, int timeoutMs) {
    return PumpUntil(
        [&] {
            ReadAvailable();
            return m_received.contains(text);
        },
        timeoutMs, m_fd);
}

bool LoopbackClient::WaitForBytes(int count, int timeoutMs) {
    return PumpUntil(
        [&] {
            ReadAvailable();
            return m_received.size() >= count;
        },
        timeoutMs, m_fd);
}

bool LoopbackClient::WaitForEnd(int timeoutMs) {
    return PumpUntil(
        [&] {
            ReadAvailable();
            return m_ended;
        },
        timeoutMs, m_fd);
}

QByteArray LoopbackClient::Take() {
    ReadAvailable();
    QByteArray taken;
    taken.swap(m_received);
    return taken;
}

void LoopbackClient::ShutdownSend() {
    if (m_fd >= 0) ::shutdown(m_fd, SHUT_WR);
}

void LoopbackClient::Close(bool reset) {
    if (m_fd < 0) return;
    if (reset) {
        linger option{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    }
    ::close(m_fd);
    m_fd = -1;
}

}  // namespace orvane::test
