// Keeping the door, end to end on loopback with a fake clock: login timeout and linger,
// the cap on logins in progress per address, penalties, the failure delay, IPv6, the
// reverse lookup that holds only its own session, and the idle timeout.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "FakeClock.h"
#include "TelnetServerFixture.h"

namespace orvane::test {
namespace {

constexpr const char* kWelcome =
    "Please Wait...Connection Accepted (Orvane 1.5)\r\n\r\nUsername : ";

class Door : public ::testing::Test {
protected:
    void SetUp() override {
        server.AddUser("alice", "secret");
        ASSERT_NE(server.Start(), 0);
    }
    // A client from `source` that has read the greeting.
    std::unique_ptr<LoopbackClient> Greeted(const char* source) {
        auto client = std::make_unique<LoopbackClient>();
        if (!client->ConnectFrom(source, "127.0.0.1", server.port)) return nullptr;
        if (!client->WaitFor("Username : ")) return nullptr;
        client->Take();
        return client;
    }
    // A client from `source` that the server closes without a byte.
    bool Refused(const char* source) {
        LoopbackClient client;
        return client.ConnectFrom(source, "127.0.0.1", server.port) && client.WaitForEnd() &&
               client.Received().isEmpty();
    }
    // Sends a name and a wrong password; the answer waits for the clock.
    bool TryWrongPassword(LoopbackClient& client) {
        return client.Send("alice\r") && client.WaitFor("Password : ") && client.Send("nope\r") &&
               PumpUntil([&] { return server.Whats().back() == "Login as \"alice\" failed"; });
    }
    int Count(const char* what) const {
        int count = 0;
        for (const auto& text : server.Whats()) count += text == what ? 1 : 0;
        return count;
    }

    FakeClock clock;
    TelnetServerFixture server{&clock};
};

TEST_F(Door, TenSilentConnectionsTimeOutAndARealLoginThenSucceeds) {
    std::vector<std::unique_ptr<LoopbackClient>> silent;
    for (int i = 2; i < 12; ++i) {
        const QByteArray source = "127.0.0." + QByteArray::number(i);
        silent.push_back(Greeted(source.constData()));
        ASSERT_TRUE(silent.back()) << source.constData();
    }
    EXPECT_TRUE(Refused("127.0.0.1"));

    clock.Advance(119'000);
    PumpFor(20);
    EXPECT_EQ(Count("Login timed out"), 0);
    clock.Advance(1'000);
    for (auto& client : silent) {
        ASSERT_TRUE(client->WaitForEnd());
        EXPECT_EQ(client->Take(), QByteArray("\r\nLogin timed out.\r\n"));
    }
    EXPECT_EQ(Count("Login timed out"), 10);
    // The clients keep their sockets open; ten seconds later the server closes them.
    EXPECT_EQ(server.service.ConnectionCount(), 10);
    clock.Advance(10'000);
    ASSERT_TRUE(PumpUntil([&] { return server.service.ConnectionCount() == 0; }));

    LoopbackClient user;
    ASSERT_TRUE(user.ConnectFrom("127.0.0.1", "127.0.0.1", server.port));
    ASSERT_TRUE(user.WaitFor("Username : "));
    ASSERT_TRUE(server.Login(user, "alice", "secret"));
    // A login that is done is never timed out.
    clock.Advance(600'000);
    PumpFor(20);
    EXPECT_FALSE(user.EndSeen());
    EXPECT_EQ(Count("Login timed out"), 10);
}

TEST_F(Door, AFourthLoginInProgressFromOneAddressIsRefusedWhileAnotherAddressIsServed) {
    std::vector<std::unique_ptr<LoopbackClient>> three;
    for (int i = 0; i < 3; ++i) {
        three.push_back(Greeted("127.0.0.2"));
        ASSERT_TRUE(three.back());
    }
    EXPECT_TRUE(Refused("127.0.0.2"));
    EXPECT_TRUE(Refused("127.0.0.2"));
    EXPECT_EQ(Count("Refused: too many logins in progress"), 1);
    EXPECT_TRUE(Greeted("127.0.0.3"));
    // The machine itself is exempt.
    std::vector<std::unique_ptr<LoopbackClient>> local;
    for (int i = 0; i < 4; ++i) local.push_back(Greeted("127.0.0.1"));
    EXPECT_TRUE(local.back());
    local.clear();

    // Logged in, a session no longer counts.
    ASSERT_TRUE(server.Login(*three[0], "alice", "secret"));
    EXPECT_TRUE(Greeted("127.0.0.2"));
}

TEST_F(Door, PenaltiesStartDoubleWhileTheyLastExpireAndAreLoggedOnce) {
    server.settings.Write(setting::FailedLogins, 1);
    auto first = Greeted("127.0.0.2");
    auto second = Greeted("127.0.0.2");
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(TryWrongPassword(*first));
    clock.Advance(1'000);
    ASSERT_TRUE(first->WaitForEnd());
    EXPECT_EQ(first->Take(), QByteArray("alice\r\nPassword : ****\n\r\n\r\nLogin Failed.\r\n\r\n"));

    EXPECT_TRUE(Refused("127.0.0.2"));
    EXPECT_TRUE(Refused("127.0.0.2"));
    EXPECT_EQ(Count("Refused: login penalty"), 1);
    EXPECT_TRUE(Greeted("127.0.0.3"));

    // Another lock while it lasts: 30 s from now.
    ASSERT_TRUE(TryWrongPassword(*second));
    clock.Advance(1'000);
    ASSERT_TRUE(second->WaitForEnd());
    clock.Advance(15'000);
    EXPECT_TRUE(Refused("127.0.0.2"));
    EXPECT_EQ(Count("Refused: login penalty"), 2);
    clock.Advance(15'000);
    EXPECT_TRUE(Greeted("127.0.0.2"));

    // Switched off, a lock leaves no penalty behind.
    server.settings.Write(setting::PenaltyEnable, 0);
    auto third = Greeted("127.0.0.4");
    ASSERT_TRUE(third);
    ASSERT_TRUE(TryWrongPassword(*third));
    clock.Advance(1'000);
    ASSERT_TRUE(third->WaitForEnd());
    server.settings.Write(setting::PenaltyEnable, 1);
    EXPECT_TRUE(Greeted("127.0.0.4"));
}

TEST_F(Door, TheFailureDelayHoldsOnlyItsOwnSessionAndKeepsWhatWasTypedForTheNextPrompt) {
    auto guesser = Greeted("127.0.0.2");
    auto other = Greeted("127.0.0.3");
    ASSERT_TRUE(guesser && other);
    ASSERT_TRUE(TryWrongPassword(*guesser));
    guesser->Take();
    ASSERT_TRUE(guesser->Send("bob\r"));

    // Meanwhile another session's echo comes at once.
    ASSERT_TRUE(other->Send("abc"));
    ASSERT_TRUE(other->WaitFor("abc"));
    PumpFor(30, guesser->Descriptor());
    EXPECT_TRUE(guesser->Received().isEmpty());

    clock.Advance(1'000);
    ASSERT_TRUE(guesser->WaitFor("Password : "));
    EXPECT_EQ(guesser->Take(),
              QByteArray("\r\n\r\nLogin Failed.\r\n\r\nUsername : bob\r\nPassword : "));
    EXPECT_EQ(server.Whats().back(), "Login as \"alice\" failed");
}

TEST_F(Door, ControlBytesInAUserNameReachTheLogOnlyAsText) {
    auto client = Greeted("127.0.0.2");
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->Send("\x1b[2Jroot\r"));
    ASSERT_TRUE(client->WaitFor("Password : "));
    ASSERT_TRUE(client->Send("x\r"));
    ASSERT_TRUE(PumpUntil([&] { return server.Whats().back().startsWith("Login as"); }));
    EXPECT_EQ(server.Whats().back(), "Login as \"\\x1B[2Jroot\" failed");
    EXPECT_TRUE(server.LogFileContents().contains("Login as \"\\x1B[2Jroot\" failed"));
    EXPECT_FALSE(server.LogFileContents().contains('\x1b'));
}

TEST_F(Door, IdleLoggedInSessionsEndAfterTheirSilenceAndInputResetsIt) {
    server.settings.Write(setting::IdleTimeout, 1);
    auto client = Greeted("127.0.0.2");
    ASSERT_TRUE(client);
    ASSERT_TRUE(server.Login(*client, "alice", "secret"));
    client->Take();
    clock.Advance(59'000);
    ASSERT_TRUE(client->Send("help\r"));
    ASSERT_TRUE(client->WaitFor("\r\n> "));
    client->Take();
    clock.Advance(59'000);
    PumpFor(20);
    EXPECT_FALSE(client->EndSeen());
    clock.Advance(1'000);
    ASSERT_TRUE(client->WaitForEnd());
    EXPECT_EQ(client->Take(), QByteArray("\r\nIdle timeout.\r\n"));
    // Like `exit`: the client closes, the session ends.
    client->Close();
    ASSERT_TRUE(PumpUntil([&] { return server.service.ConnectionCount() == 0; }));
}

TEST(DoorListen, IPv6LoopbackLogsInAndABadListenAddressSaysWhy) {
    TelnetServerFixture server;
    server.AddUser("alice", "secret");
    server.settings.Write(setting::ListenAddress, QStringLiteral("::1"));
    ASSERT_NE(server.Start(), 0) << server.service.StartFailure().toStdString();
    LoopbackClient client;
    ASSERT_TRUE(client.ConnectFrom(nullptr, "::1", server.port));
    ASSERT_TRUE(client.WaitFor("Username : "));
    EXPECT_EQ(client.Take(), QByteArray(kWelcome));
    ASSERT_TRUE(server.Login(client, "alice", "secret"));
    EXPECT_EQ(server.entries.front().who, "::1");
    EXPECT_EQ(server.entries.back().what, "Logged in as \"alice\"");
    // Only ::1 was asked for: IPv4 clients are not taken.
    LoopbackClient v4;
    EXPECT_FALSE(v4.ConnectFrom(nullptr, "127.0.0.1", server.port) && v4.WaitFor("Username"));

    server.service.StopServer();
    server.settings.Write(setting::ListenAddress, QStringLiteral("localhost"));
    EXPECT_EQ(server.service.StartServer(), 0);
    EXPECT_EQ(server.service.StartFailure(),
              QStringLiteral("\"localhost\" is not an IPv4 or IPv6 address."));
}

// A resolver that hangs for one address until released, and names every other one.
class HangingResolver final {
public:
    ~HangingResolver() { Release(); }
    HostNameLookup::Resolver Function() {
        return [state = m_state](const PeerAddress& peer) -> QByteArray {
            if (peer.Text() != "127.0.0.2") return "near.example";
            std::unique_lock lock(state->mutex);
            state->cv.wait(lock, [&] { return state->released; });
            return "late.example";
        };
    }
    void Release() {
        {
            std::lock_guard lock(m_state->mutex);
            m_state->released = true;
        }
        m_state->cv.notify_all();
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        bool released = false;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

TEST_F(Door, AResolverThatHangsDelaysOnlyItsOwnSession) {
    HangingResolver resolver;
    server.service.SetResolver(resolver.Function());
    server.settings.Write(setting::ReverseDNS, 1);

    LoopbackClient slow;
    ASSERT_TRUE(slow.ConnectFrom("127.0.0.2", "127.0.0.1", server.port));
    ASSERT_TRUE(slow.WaitFor("Please Wait..."));
    ASSERT_TRUE(slow.Send("alice\r"));  // typed ahead: waits for the greeting

    auto quick = Greeted("127.0.0.3");
    ASSERT_TRUE(quick);
    ASSERT_TRUE(server.Login(*quick, "alice", "secret"));
    EXPECT_EQ(server.entries.back().who, "near.example");
    EXPECT_EQ(server.service.ConnectionCount(), 1);
    PumpFor(20, slow.Descriptor());
    EXPECT_EQ(slow.Received(), QByteArray("Please Wait..."));

    // Past two seconds the numeric address stands in, and the session goes on in order.
    clock.Advance(2'000);
    ASSERT_TRUE(slow.WaitFor("Password : "));
    EXPECT_EQ(slow.Take(), QByteArray(kWelcome) + "alice\r\nPassword : ");
    EXPECT_EQ(server.service.ConnectionCount(), 2);
    int fromSlow = 0;
    for (const ActivityEntry& entry : server.entries) fromSlow += entry.who == "127.0.0.2";
    EXPECT_EQ(fromSlow, 1);  // "Logging in..."

    // Stopping the server while a lookup still runs does not wait for it.
    LoopbackClient stuck;
    ASSERT_TRUE(stuck.ConnectFrom("127.0.0.2", "127.0.0.1", server.port));
    ASSERT_TRUE(stuck.WaitFor("Please Wait..."));
    EXPECT_EQ(server.service.StopServer(), 1);
    EXPECT_TRUE(stuck.WaitForEnd());
    EXPECT_EQ(server.service.ConnectionCount(), 0);
}

}  // namespace
}  // namespace orvane::test
