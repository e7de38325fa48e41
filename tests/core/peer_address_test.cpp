// Peer addresses of both families: their text, their limit key, and the local machine.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "platform/PeerAddress.h"

using namespace orvane;

TEST(PeerAddress, MappedIPv4ShowsAsPlainIPv4AndIPv6KeepsItsUsualText) {
    sockaddr_in6 mapped{};
    mapped.sin6_family = AF_INET6;
    ASSERT_EQ(::inet_pton(AF_INET6, "::ffff:10.0.0.7", &mapped.sin6_addr), 1);
    const PeerAddress v4 =
        PeerAddress::FromSockaddr(reinterpret_cast<sockaddr*>(&mapped), sizeof mapped);
    EXPECT_FALSE(v4.IsIPv6());
    EXPECT_EQ(v4.Text(), QByteArray("10.0.0.7"));
    EXPECT_EQ(v4, PeerAddress::FromText("10.0.0.7"));

    EXPECT_EQ(PeerAddress::FromText("2001:0db8:0:0::0001").Text(), QByteArray("2001:db8::1"));
    EXPECT_EQ(PeerAddress::FromText("2001:db8:a:b:1:2:3:4").LimitKey(),
              QByteArray("2001:db8:a:b::/64"));
    EXPECT_TRUE(PeerAddress::FromText("host.example").IsEmpty());
    // A short or foreign socket address is not mistaken for one.
    EXPECT_TRUE(PeerAddress::FromSockaddr(reinterpret_cast<sockaddr*>(&mapped), 8).IsEmpty());

    EXPECT_TRUE(PeerAddress::FromText("127.0.0.1").IsLocalHost());
    EXPECT_TRUE(PeerAddress::FromText("::1").IsLocalHost());
    EXPECT_FALSE(PeerAddress::FromText("127.0.0.2").IsLocalHost());
}
