// The listener: its address (IPv4, IPv6, dual stack), its failures, the peer of either
// family, keepalive on every accepted socket, and the pause when descriptors run out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "AddressedConnection.h"
#include "LoopbackClient.h"
#include "platform/AsyncSocket.h"

using namespace orvane;

namespace {
// Waits for the listener to report a connection and takes it; -1 when none came.
int AcceptOne(AsyncListener& listener, PeerAddress* peer) {
    int fd = -1;
    test::PumpUntil(
        [&] {
            fd = listener.Accept(peer);
            return fd >= 0;
        },
        10000);
    return fd;
}
}  // namespace

TEST(Listener, AddressesBindWhatTheySayAndPeersOfBothFamiliesShowTheirUsualText) {
    AsyncListener loopback6;
    ASSERT_TRUE(loopback6.Listen(QStringLiteral("::1"), 0))
        << loopback6.FailureReason().toStdString();
    int client = test::ConnectFrom(nullptr, "::1", loopback6.BoundPort());
    PeerAddress peer;
    int fd = AcceptOne(loopback6, &peer);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(peer.Text(), QByteArray("::1"));
    ::close(fd);
    ::close(client);

    // "::" takes IPv4 clients too, and shows them as plain IPv4.
    AsyncListener dual;
    ASSERT_TRUE(dual.Listen(QStringLiteral(" :: "), 0)) << dual.FailureReason().toStdString();
    client = test::ConnectFrom("127.0.0.2", "127.0.0.1", dual.BoundPort());
    fd = AcceptOne(dual, &peer);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(peer.Text(), QByteArray("127.0.0.2"));
    ::close(fd);
    ::close(client);

    // An IPv4 literal binds that address alone.
    AsyncListener only;
    ASSERT_TRUE(only.Listen(QStringLiteral("127.0.0.1"), 0));
    client = test::ConnectFrom("127.0.0.3", "127.0.0.1", only.BoundPort());
    sockaddr_in old{};
    fd = -1;
    test::PumpUntil([&] { return (fd = only.Accept(&old)) >= 0; }, 10000);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(PeerAddress::FromText("127.0.0.3").Text(),
              PeerAddress::FromSockaddr(reinterpret_cast<sockaddr*>(&old), sizeof old).Text());
    ::close(fd);
    ::close(client);
    const int elsewhere = test::ConnectFrom("127.0.0.3", "127.0.0.4", only.BoundPort());
    ASSERT_GE(elsewhere, 0);
    EXPECT_TRUE(test::PumpUntil(
        [&] {
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(elsewhere, SOL_SOCKET, SO_ERROR, &error, &length);
            return error == ECONNREFUSED;
        },
        10000));
    ::close(elsewhere);
}

TEST(Listener, AnAddressThatIsNoneOrIsTakenFailsWithItsReasonAndLeavesNothingOpen) {
    AsyncListener bad;
    EXPECT_FALSE(bad.Listen(QStringLiteral("my.host.example"), 0));
    EXPECT_TRUE(bad.FailureReason().contains(QStringLiteral("\"my.host.example\" is not")));
    EXPECT_EQ(bad.BoundPort(), 0);
    EXPECT_FALSE(bad.Listen(QStringLiteral("127.0.0.1"), 70000));
    EXPECT_TRUE(bad.FailureReason().contains(QStringLiteral("70000")));

    AsyncListener first;
    ASSERT_TRUE(first.Listen(QStringLiteral("127.0.0.1"), 0));
    AsyncListener second;
    EXPECT_FALSE(second.Listen(QStringLiteral("127.0.0.1"), first.BoundPort()));
    EXPECT_EQ(
        second.FailureReason(),
        QStringLiteral("Port %1 on 127.0.0.1: address already in use").arg(first.BoundPort()));
    // It can still listen elsewhere afterwards.
    EXPECT_TRUE(second.Listen(QStringLiteral("127.0.0.1"), 0));
}

TEST(Listener, AcceptedSocketsProbeAVanishedPeer) {
    AsyncListener listener;
    ASSERT_TRUE(listener.Listen(QStringLiteral("127.0.0.1"), 0));
    const int client = test::ConnectFrom(nullptr, "127.0.0.1", listener.BoundPort());
    PeerAddress peer;
    const int fd = AcceptOne(listener, &peer);
    ASSERT_GE(fd, 0);
    const auto option = [fd](int level, int name) {
        int value = -1;
        socklen_t length = sizeof value;
        ::getsockopt(fd, level, name, &value, &length);
        return value;
    };
    EXPECT_NE(option(SOL_SOCKET, SO_KEEPALIVE), 0);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 60);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 10);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 6);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 120000);
    ::close(fd);
    ::close(client);
}

TEST(Listener, OutOfDescriptorsItPausesForASecondInsteadOfSpinningThenAcceptsAgain) {
    AsyncListener listener;
    ASSERT_TRUE(listener.Listen(QStringLiteral("127.0.0.1"), 0));
    int ready = 0;
    QObject::connect(&listener, &AsyncListener::acceptReady, [&] { ++ready; });
    const int client = test::ConnectFrom(nullptr, "127.0.0.1", listener.BoundPort());
    ASSERT_TRUE(test::PumpUntil([&] { return ready > 0; }, 10000));

    // The next descriptor number becomes the limit, so accept has none left to give.
    const int lowest = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowest, 0);
    ::close(lowest);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    PeerAddress peer;
    const int refused = listener.Accept(&peer);
    const int error = errno;
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_EQ(refused, -1);
    EXPECT_EQ(error, EMFILE);
    EXPECT_FALSE(listener.IsWatching());

    // Watching again after the pause, the waiting client is taken.
    ready = 0;
    ASSERT_TRUE(test::PumpUntil([&] { return listener.IsWatching(); }, 10000));
    ASSERT_TRUE(test::PumpUntil([&] { return ready > 0; }, 10000));
    const int fd = listener.Accept(&peer);
    EXPECT_GE(fd, 0);
    if (fd >= 0) ::close(fd);
    ::close(client);
}
