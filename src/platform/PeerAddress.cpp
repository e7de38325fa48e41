// Peer addresses: conversion from socket addresses and texts, and the limit key.
#include "platform/PeerAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace orvane {

namespace {
constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
}

PeerAddress PeerAddress::FromSockaddr(const sockaddr* address, socklen_t length) {
    PeerAddress peer;
    if (!address) return peer;
    if (address->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        peer.m_family = AF_INET;
        std::memcpy(peer.m_bytes.data(), &v4->sin_addr, 4);
    } else if (address->sa_family == AF_INET6 &&
               length >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&v6->sin6_addr);
        // A dual-stack listener sees IPv4 clients this way; they are IPv4 clients.
        if (std::memcmp(bytes, kMappedPrefix, sizeof kMappedPrefix) == 0) {
            peer.m_family = AF_INET;
            std::memcpy(peer.m_bytes.data(), bytes + 12, 4);
        } else {
            peer.m_family = AF_INET6;
            std::memcpy(peer.m_bytes.data(), bytes, 16);
        }
    }
    return peer;
}

PeerAddress PeerAddress::FromText(const QByteArray& text) {
    sockaddr_in v4{};
    if (::inet_pton(AF_INET, text.constData(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        return FromSockaddr(reinterpret_cast<sockaddr*>(&v4), sizeof v4);
    }
    sockaddr_in6 v6{};
    if (::inet_pton(AF_INET6, text.constData(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        return FromSockaddr(reinterpret_cast<sockaddr*>(&v6), sizeof v6);
    }
    return {};
}

QByteArray PeerAddress::Text() const {
    char text[INET6_ADDRSTRLEN] = {};
    if (m_family == 0 || !::inet_ntop(m_family, m_bytes.data(), text, sizeof text)) return {};
    return QByteArray(text);
}

QByteArray PeerAddress::LimitKey() const {
    if (m_family != AF_INET6) return Text();
    PeerAddress prefix = *this;
    std::memset(prefix.m_bytes.data() + 8, 0, 8);
    return prefix.Text() + "/64";
}

bool PeerAddress::IsLocalHost() const {
    static constexpr std::uint8_t kLoop4[4] = {127, 0, 0, 1};
    static constexpr std::uint8_t kLoop6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    if (m_family == AF_INET) return std::memcmp(m_bytes.data(), kLoop4, 4) == 0;
    if (m_family == AF_INET6) return std::memcmp(m_bytes.data(), kLoop6, 16) == 0;
    return false;
}

socklen_t PeerAddress::ToSockaddr(sockaddr_storage* address) const {
    std::memset(address, 0, sizeof *address);
    if (m_family == AF_INET) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(address);
        v4->sin_family = AF_INET;
        std::memcpy(&v4->sin_addr, m_bytes.data(), 4);
        return sizeof(sockaddr_in);
    }
    if (m_family == AF_INET6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(address);
        v6->sin6_family = AF_INET6;
        std::memcpy(&v6->sin6_addr, m_bytes.data(), 16);
        return sizeof(sockaddr_in6);
    }
    return 0;
}

}  // namespace orvane
