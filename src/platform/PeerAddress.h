// A client's network address of either family, as the listener reports it: its text for
// the activity list, its key for per-address limits, and whether it is the local machine.
#pragma once

#include <sys/socket.h>

#include <QByteArray>
#include <array>
#include <cstdint>

namespace orvane {

class PeerAddress final {
public:
    PeerAddress() = default;
    // From what accept() filled in; an IPv4 address mapped into IPv6 ("::ffff:a.b.c.d")
    // becomes the plain IPv4 address. Anything else than IPv4 or IPv6 gives an empty one.
    static PeerAddress FromSockaddr(const sockaddr* address, socklen_t length);
    // From a numeric text ("10.0.0.7", "2001:db8::1"); empty when it is not one.
    static PeerAddress FromText(const QByteArray& text);

    bool IsEmpty() const { return m_family == 0; }
    bool IsIPv6() const { return m_family == AF_INET6; }
    // "10.0.0.7" or "2001:db8::1": the usual numeric text of the family.
    QByteArray Text() const;
    // What per-address limits count by: the whole IPv4 address, or the /64 of an IPv6 one
    // (one host usually holds a whole /64 and may pick any address in it).
    QByteArray LimitKey() const;
    // 127.0.0.1 or ::1: a client on the machine itself.
    bool IsLocalHost() const;
    // Fills a socket address for this one (port 0); the length used, 0 when empty.
    socklen_t ToSockaddr(sockaddr_storage* address) const;

    bool operator==(const PeerAddress& other) const = default;

private:
    int m_family = 0;
    std::array<std::uint8_t, 16> m_bytes{};  // 4 bytes used for IPv4
};

}  // namespace orvane
