// Loopback connections with a chosen source address.
#include "AddressedConnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/PeerAddress.h"

namespace orvane::test {

namespace {
bool IsLoopback(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
    }
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
    return address.ss_family == AF_INET6 && IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
}
}  // namespace

int ConnectFrom(const char* source, const char* target, int port) {
    sockaddr_storage to{};
    const socklen_t toLength = PeerAddress::FromText(target).ToSockaddr(&to);
    if (toLength == 0 || !IsLoopback(to)) return -1;
    if (to.ss_family == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&to)->sin_port = htons(static_cast<uint16_t>(port));
    } else {
        reinterpret_cast<sockaddr_in6*>(&to)->sin6_port = htons(static_cast<uint16_t>(port));
    }
    const int fd = ::socket(to.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (source) {
        // Bound before connecting, so the server sees this source and not 127.0.0.1.
        sockaddr_storage from{};
        const socklen_t fromLength = PeerAddress::FromText(source).ToSockaddr(&from);
        if (fromLength == 0 || from.ss_family != to.ss_family || !IsLoopback(from) ||
            ::bind(fd, reinterpret_cast<sockaddr*>(&from), fromLength) != 0) {
            ::close(fd);
            return -1;
        }
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), toLength) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace orvane::test
