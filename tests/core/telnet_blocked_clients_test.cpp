// Clients that stop reading their output hold up nobody but themselves.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include "ShellPrompt.h"
#include "TelnetServerFixture.h"
#include "platform/ChildReaper.h"
#include "platform/InterpreterProcess.h"
#include "telnet/DosBridge.h"

namespace orvane::test {
namespace {

class BlockedClients : public ::testing::Test {
protected:
    void SetUp() override {
        server.AddUser("admin", "secret", 1, 1, 1);
        server.service.SetBridgeFactory([this](BridgeEndpoint& endpoint) {
            return std::make_unique<DosBridge>(endpoint, launcher);
        });
        ASSERT_NE(server.Start(), 0);
    }
    void TearDown() override {
        server.service.StopServer();
        ChildReaper::Instance().FinishAll();
    }

    // Logged in, with a small receive buffer so that a client that stops reading is soon
    // full; `dos` started when asked, up to the shell's first prompt.
    std::unique_ptr<LoopbackClient> LoggedIn(bool dos) {
        auto client = std::make_unique<LoopbackClient>();
        if (!client->Connect(server.port, 8192) || !client->WaitFor("Username : ") ||
            !server.Login(*client, "admin", "secret"))
            return nullptr;
        client->Take();
        if (!dos) return client;
        client->Send("dos\r\n");
        if (!PumpUntil([&] {
                client->ReadAvailable();
                return EndsWithShellPrompt(client->Received());
            }))
            return nullptr;
        client->Take();
        return client;
    }

    TelnetServerFixture server;
    PosixInterpreterLauncher launcher;
};

TEST_F(BlockedClients, TwoClientsThatStopReadingDoNotHoldUpEchoOrAnotherShellsOutput) {
    // One runs `yes` and reads nothing; the other floods `help` and reads nothing.
    auto yes = LoggedIn(true);
    ASSERT_TRUE(yes);
    auto flood = LoggedIn(false);
    ASSERT_TRUE(flood);
    auto typist = LoggedIn(false);
    ASSERT_TRUE(typist);
    auto counter = LoggedIn(true);
    ASSERT_TRUE(counter);

    ASSERT_TRUE(yes->Send("yes\r\n"));
    long floodSent = 0;
    QTimer flooder;  // keeps the second client's requests coming while the kernel takes them
    QObject::connect(&flooder, &QTimer::timeout, [&] {
        floodSent += std::max(0L, flood->TrySend(QByteArray("help\r\n").repeated(4096)));
    });
    flooder.start(1);
    ASSERT_TRUE(PumpUntil([&] { return server.service.BlockedSessionCount() == 2; }, 20000))
        << "blocked sessions: " << server.service.BlockedSessionCount() << " yes got "
        << yes->Received().size() << " flood got " << flood->Received().size() << " flood sent "
        << floodSent;

    // The third client's typing comes back while the two are stuck.
    for (const char* word : {"alpha", "bravo", "charlie"}) {
        ASSERT_TRUE(typist->Send(word));
        ASSERT_TRUE(typist->WaitFor(word, 10000)) << word;
    }
    ASSERT_TRUE(typist->Send("\r\n"));
    ASSERT_TRUE(typist->WaitFor("Unknown command", 10000));

    // The fourth client's shell output flows to the end.
    ASSERT_TRUE(counter->Send("seq 1 200000; echo counted-$((100+1))\r\n"));
    ASSERT_TRUE(PumpUntil(
        [&] {
            counter->ReadAvailable();
            return counter->Received().contains("counted-101");
        },
        60000));
    EXPECT_TRUE(counter->Received().contains("\r\n199999\r\n200000\r\n"));
    EXPECT_EQ(server.service.BlockedSessionCount(), 2);

    // The stuck ones are still served once they read again.
    flooder.stop();
    ASSERT_TRUE(flood->WaitFor("Unknown command", 10000) || flood->Received().contains("> "));
    yes->Take();
    ASSERT_TRUE(yes->WaitForBytes(1 << 20, 20000));
    EXPECT_TRUE(yes->Received().contains("y\r\ny\r\n"));
}

}  // namespace
}  // namespace orvane::test
