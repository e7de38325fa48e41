// The ten slots, stopping the server, and sessions that go while their output is blocked.
#include <gtest/gtest.h>

#include <QTimer>

#include "TelnetServerFixture.h"

namespace orvane::test {
namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        server.AddUser("alice", "secret");
        ASSERT_NE(server.Start(), 0);
    }
    TelnetServerFixture server;
};

TEST_F(Registry, EleventhClientIsClosedWithoutAWordAndTheOperatorHearsOfItOnceAMinute) {
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (int i = 0; i < 10; ++i) {
        clients.push_back(server.Connect());
        ASSERT_TRUE(clients.back());
    }
    const size_t entries = server.entries.size();
    for (int attempt = 0; attempt < 3; ++attempt) {
        LoopbackClient eleventh;
        ASSERT_TRUE(eleventh.Connect(server.port));
        ASSERT_TRUE(eleventh.WaitForEnd());
        EXPECT_TRUE(eleventh.Received().isEmpty());
    }
    ASSERT_EQ(server.entries.size(), entries + 1);
    EXPECT_EQ(server.entries.back().who, "127.0.0.1");
    EXPECT_EQ(server.entries.back().what, "Refused: server full");
    EXPECT_TRUE(server.LogFileContents().contains("Refused: server full"));
    EXPECT_EQ(server.service.ConnectionCount(), 10);
}

TEST_F(Registry, ClosedClientsFreeTheirSlotsForLaterOnes) {
    for (int i = 0; i < 12; ++i) {
        auto client = server.Connect();
        ASSERT_TRUE(client) << "client " << i;
        client->Close();
        ASSERT_TRUE(PumpUntil([&] { return server.service.ConnectionCount() == 0; }));
    }
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (int i = 0; i < 10; ++i) {
        clients.push_back(server.Connect());
        ASSERT_TRUE(clients.back());
    }
    clients[3]->Close();
    ASSERT_TRUE(PumpUntil([&] { return server.service.ConnectionCount() == 9; }));
    EXPECT_TRUE(server.Connect());
    EXPECT_EQ(server.countChanges.back(), 10);
}

TEST_F(Registry, StoppingTheServerEndsEverySessionUnderItsAddress) {
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (int i = 0; i < 3; ++i) clients.push_back(server.Connect());
    server.sound.played.clear();
    EXPECT_EQ(server.service.StopServer(), 1);
    EXPECT_EQ(server.service.ConnectionCount(), 0);
    EXPECT_EQ(server.sound.played.size(), 3);
    int terminated = 0;
    for (const ActivityEntry& entry : server.entries) {
        if (entry.what == "Connection terminated") {
            ++terminated;
            EXPECT_EQ(entry.who, "127.0.0.1");
        }
    }
    EXPECT_EQ(terminated, 3);
    for (auto& client : clients) EXPECT_TRUE(client->WaitForEnd());
    EXPECT_EQ(server.service.StopServer(), 0);
    EXPECT_EQ(server.service.StartServer(), 1);
    EXPECT_EQ(server.service.StartServer(), 0);
}

TEST_F(Registry, ReverseLookupOnlyWhenTheSettingIsExactlyOne) {
    server.settings.Write(setting::ReverseDNS, 2);
    EXPECT_EQ(server.service.ResolvePeerName("10.0.0.7"), "10.0.0.7");
    server.settings.Write(setting::ReverseDNS, 1);
    // Loopback has a name on every machine; a documentation address has none.
    EXPECT_NE(server.service.ResolvePeerName("127.0.0.1"), "127.0.0.1");
}

// Fills the session's output while its client reads nothing, until the server has stopped
// reading that client; then runs `whileBlocked`. The kernel's send buffer grows as it fills, so
// this can take a while on a slow (instrumented) build: the bounds are generous.
void BlockOutputThen(TelnetServerFixture& server, LoopbackClient& client,
                     const std::function<void()>& whileBlocked) {
    bool done = false;
    QTimer timer;
    int ticks = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (done || ++ticks > 15000) return;
        if (server.service.BlockedSessionCount() > 0) {
            done = true;
            whileBlocked();
            return;
        }
        // Bytes without a carriage return are echoed back; the client never reads them.
        client.TrySend(QByteArray(65536, 'x'));
    });
    timer.start(2);
    PumpUntil([&] { return done; }, 30000);
    timer.stop();
}

class BlockedOutput : public Registry {
protected:
    void SetUp() override {
        Registry::SetUp();
        server.service.SetOutputLimit(4096);
        // Every long chunk is a run of unknown commands, answered at once; the log file
        // stays out of it.
        server.settings.Write(setting::EnableLog, 0);
        ASSERT_TRUE(client.Connect(server.port, 4096));
        ASSERT_TRUE(client.WaitFor("Username : "));
        ASSERT_TRUE(server.Login(client, "alice", "secret"));
    }
    LoopbackClient client;
};

TEST_F(BlockedOutput, StoppingTheServerWhileASessionsOutputIsBlockedIsSafe) {
    bool stopped = false;
    BlockOutputThen(server, client, [&] {
        stopped = server.service.StopServer() == 1;
        // Retired, and destroyed on a later turn of the loop, never inside this call.
        EXPECT_EQ(server.service.PendingDestructionCount(), 1);
    });
    ASSERT_TRUE(stopped);
    EXPECT_EQ(server.service.ConnectionCount(), 0);
    ASSERT_TRUE(PumpUntil([&] { return server.service.PendingDestructionCount() == 0; }));
    EXPECT_EQ(server.service.BlockedSessionCount(), 0);
}

TEST_F(BlockedOutput, ClientThatResetsWhileItsOutputIsBlockedIsRetiredAndItsSlotReused) {
    bool reset = false;
    BlockOutputThen(server, client, [&] {
        client.Close(true);
        reset = true;
    });
    ASSERT_TRUE(reset);
    ASSERT_TRUE(PumpUntil([&] {
        return server.service.ConnectionCount() == 0 &&
               server.service.PendingDestructionCount() == 0;
    }));
    EXPECT_EQ(server.entries.back().what, "Connection terminated");
    EXPECT_TRUE(server.Connect());
}

}  // namespace
}  // namespace orvane::test
