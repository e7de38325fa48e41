// `dos` end to end: real clients on loopback, real sessions, real shells.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <QDir>
#include <QRegularExpression>
#include <chrono>

#include "ShellPrompt.h"
#include "TelnetServerFixture.h"
#include "platform/ChildReaper.h"
#include "platform/InterpreterProcess.h"
#include "telnet/DosBridge.h"

namespace orvane::test {
namespace {

int OpenDescriptorCount() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).count());
}

bool ProcessGone(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

class DosSession : public ::testing::Test {
protected:
    void SetUp() override {
        server.AddUser("admin", "secret", 1, 1, 1);
        server.AddUser("guest", "guest", 1, 0, 0);
        server.service.SetBridgeFactory([this](BridgeEndpoint& endpoint) {
            ++bridgesMade;
            return std::make_unique<DosBridge>(endpoint, *launcher);
        });
        ASSERT_NE(server.Start(), 0);
    }
    void TearDown() override {
        server.service.StopServer();
        ChildReaper::Instance().FinishAll();
    }

    std::unique_ptr<LoopbackClient> InDos(const char* name = "admin",
                                          const char* password = "secret") {
        auto client = server.Connect();
        if (!client || !server.Login(*client, name, password)) return nullptr;
        client->Take();
        client->Send("dos\r\n");
        // The interpreter's prompt ("# " or "$ ") shows that it is reading.
        if (!client->WaitFor("dos\r\n") || !PumpUntil([&] {
                client->ReadAvailable();
                return EndsWithShellPrompt(client->Received());
            }))
            return nullptr;
        client->Take();
        return client;
    }
    // The shell's own process id, asked of the shell itself.
    pid_t ShellPid(LoopbackClient& client) {
        client.Take();
        // The typed line is echoed too; only the answer has digits after "PID=".
        client.Send("echo PID=$$=\r\n");
        const QRegularExpression answer(QStringLiteral("PID=(\\d+)="));
        QRegularExpressionMatch match;
        PumpUntil([&] {
            client.ReadAvailable();
            match = answer.match(QString::fromLatin1(client.Received()));
            return match.hasMatch();
        });
        client.Take();
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    }

    TelnetServerFixture server;
    std::unique_ptr<InterpreterLauncher> launcher = std::make_unique<PosixInterpreterLauncher>();
    int bridgesMade = 0;
};

TEST_F(DosSession, EchoBackSettingIsHonouredAtEveryKeystroke) {
    auto client = InDos();
    ASSERT_TRUE(client);

    server.settings.Write(setting::EchoBack, 0);
    client->Send("echo silent\r\n");
    ASSERT_TRUE(client->WaitFor("silent\r\n"));
    EXPECT_FALSE(client->Received().contains("echo silent"));

    server.settings.Write(setting::EchoBack, 1);
    client->Take();
    client->Send("echo loud\r\n");
    // The typing comes back from the server, before the shell's answer.
    ASSERT_TRUE(client->WaitFor("echo loud\r\nloud\r\n")) << client->Received().constData();
}

TEST_F(DosSession, EchoHelloAnswersHelloWithWindowsLineEnds) {
    auto client = InDos();
    ASSERT_TRUE(client);
    client->Send("echo hello\r\n");
    ASSERT_TRUE(client->WaitFor("\r\nhello\r\n"));
    // The server echoes what was typed, then the shell answers.
    EXPECT_TRUE(client->Received().startsWith("echo hello\r\n"));
}

TEST_F(DosSession, CarriageReturnAndLineFeedInSeparatePacketsRunOneCommandPerEnter) {
    auto client = InDos();
    ASSERT_TRUE(client);
    for (int enter = 0; enter < 2; ++enter) {
        ASSERT_TRUE(client->Send("n=$((n+1)); echo N$n.\r"));
        PumpFor(50);
        ASSERT_TRUE(client->Send("\n"));
    }
    ASSERT_TRUE(client->WaitFor("N2."));
    PumpFor(200);
    EXPECT_FALSE(client->Received().contains("N3."));
    EXPECT_EQ(client->Received().count("\r\nN1.\r\n"), 1);
}

TEST_F(DosSession, ExitShowsTheLastOutputThenTheClosingTextAndThePrompt) {
    auto client = InDos();
    ASSERT_TRUE(client);
    client->Send("echo bye; exit\r\n");
    ASSERT_TRUE(client->WaitFor("\r\nNormal exit from command line.\r\n\r\n> "));
    const QByteArray got = client->Received();
    EXPECT_LT(got.indexOf("\r\nbye\r\n"), got.indexOf("Normal exit"));
    // Back at the command prompt: the shell's commands work again.
    client->Take();
    client->Send("help\r\n");
    EXPECT_TRUE(client->WaitFor("exit             Log out\r\n\r\n> "));
}

TEST_F(DosSession, FiveMegabytesOfOutputArriveWhole) {
    auto client = InDos();
    ASSERT_TRUE(client);
    client->Send("head -c 5000000 /dev/zero | tr '\\0' x; echo; echo DONE\r\n");
    ASSERT_TRUE(client->WaitFor("\r\nDONE\r\n", 30000));
    // Count after the echoed command line, which holds an x of its own.
    const QByteArray& got = client->Received();
    EXPECT_EQ(got.mid(got.indexOf("\r\n")).count('x'), 5000000);
}

TEST_F(DosSession, TenSessionsRunTheirShellsAtOnceAndOthersAreStillServed) {
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (int i = 0; i < 9; ++i) {
        clients.push_back(InDos());
        ASSERT_TRUE(clients.back()) << "session " << i;
    }
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 9; ++i) {
        clients[i]->Send(QByteArray("sleep 1; echo done") + QByteArray::number(i) + ".\r\n");
    }
    // A tenth client logs in and runs a command while nine shells are busy.
    auto other = server.Connect();
    ASSERT_TRUE(other);
    ASSERT_TRUE(server.Login(*other, "guest", "guest"));
    other->Take();
    other->Send("help\r\n");
    ASSERT_TRUE(other->WaitFor("\r\n> "));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));

    for (int i = 0; i < 9; ++i) {
        ASSERT_TRUE(
            clients[i]->WaitFor(QByteArray("\r\ndone") + QByteArray::number(i) + ".\r\n", 5000));
    }
    // Every shell slept at the same time: nobody waited for another bridge to end.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(3000));
}

TEST_F(DosSession, DisconnectDuringDosLeavesNoShellBehind) {
    auto client = InDos();
    ASSERT_TRUE(client);
    const pid_t shell = ShellPid(*client);
    ASSERT_GT(shell, 0);
    client->Close(true);
    EXPECT_TRUE(PumpUntil([&] { return ProcessGone(shell); }, 3000));
    EXPECT_TRUE(PumpUntil([] { return ChildReaper::Instance().PendingCount() == 0; }, 3000));
    EXPECT_TRUE(PumpUntil([&] { return server.service.ConnectionCount() == 0; }));
}

TEST_F(DosSession, StoppingTheServerEndsEveryShell) {
    auto first = InDos();
    auto second = InDos();
    ASSERT_TRUE(first && second);
    const pid_t a = ShellPid(*first);
    const pid_t b = ShellPid(*second);
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    server.service.StopServer();
    EXPECT_TRUE(PumpUntil([&] { return ProcessGone(a) && ProcessGone(b); }, 3000));
}

TEST_F(DosSession, InterpreterThatCannotStartSaysSoAndLeavesNoDescriptorOpen) {
    PosixInterpreterLauncher::Options options;
    options.program = "/nonexistent/interpreter";
    launcher = std::make_unique<PosixInterpreterLauncher>(options);
    auto client = server.Connect();
    ASSERT_TRUE(client && server.Login(*client, "admin", "secret"));
    client->Take();
    PumpFor(50);
    const int before = OpenDescriptorCount();
    client->Send("dos\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n> "));
    EXPECT_EQ(client->Take(), QByteArray("dos\r\n\r\nCreateProcess failed\r\n\r\n> "));
    EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST_F(DosSession, UserWithoutTheRightNeverReachesTheBridge) {
    auto client = server.Connect();
    ASSERT_TRUE(client && server.Login(*client, "guest", "guest"));
    client->Take();
    client->Send("dos\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n> "));
    EXPECT_EQ(client->Take(),
              QByteArray("dos\r\nError : No priveleges for that operation\r\n\r\n> "));
    EXPECT_EQ(bridgesMade, 0);
}

}  // namespace
}  // namespace orvane::test
