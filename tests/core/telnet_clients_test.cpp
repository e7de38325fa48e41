// Real Telnet clients against the server: their recorded negotiation, their line ends,
// erase, interrupt and timing mark, half-close, and terminal mode's negotiation at connect.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "ProcessTree.h"
#include "RecordedClients.h"
#include "ShellPrompt.h"
#include "TelnetServerFixture.h"
#include "platform/ChildReaper.h"
#include "platform/InterpreterProcess.h"
#include "telnet/DosBridge.h"

namespace orvane::test {
namespace {

using namespace recorded;

const QByteArray kLoggedIn("\r\n\r\nLogin OK.\r\n");
const QByteArray kTerminalOffers("\xff\xfb\x01\xff\xfb\x03\xff\xfd\x1f\xff\xfd\x18");

// The refusal the server owes each request of an opening: DO x → WONT x, WILL x → DONT x.
QByteArray Refusals(const QByteArray& requests) {
    QByteArray refusals;
    for (qsizetype i = 0; i + 2 < requests.size(); i += 3) {
        const bool isDo = static_cast<unsigned char>(requests[i + 1]) == 0xfd;
        refusals.append('\xff').append(isDo ? '\xfc' : '\xfe').append(requests[i + 2]);
    }
    return refusals;
}

class TelnetClients : public ::testing::Test {
protected:
    void SetUp() override {
        server.AddUser("alice", "secret", 1, 1, 0);
        server.AddUser(
            "\xff"
            "bob",
            "pw", 1, 0, 0);
        server.service.SetBridgeFactory([this](BridgeEndpoint& endpoint) {
            return std::make_unique<DosBridge>(endpoint, launcher);
        });
        ASSERT_NE(server.Start(), 0);
    }
    void TearDown() override {
        server.service.StopServer();
        ChildReaper::Instance().FinishAll();
    }
    // Logged in as alice, at the command prompt, with nothing unread.
    std::unique_ptr<LoopbackClient> LoggedIn() {
        auto client = server.Connect();
        if (!client || !server.Login(*client, "alice", "secret")) return nullptr;
        client->Take();
        return client;
    }
    // In `dos`, the shell's prompt read.
    std::unique_ptr<LoopbackClient> InDos() {
        auto client = LoggedIn();
        if (!client || !client->Send("dos\r\n")) return nullptr;
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

TEST_F(TelnetClients, EachRealClientLogsInOnTheFirstTryAndNothingMirrorsItsRequests) {
    struct Client {
        const char* name;
        QByteArray opening;
        QByteArray lineEnd;
    };
    const Client clients[] = {
        {"Debian telnet on port 23", Bytes(kDebianTelnetOpening), kLineModeEnd},
        {"plink", Bytes(kPlinkOpening), kPlinkLineModeEnd},
        {"busybox telnet, character mode", Bytes(kBusyboxCharacterMode), kLineModeEnd},
        {"a character-mode client", Bytes(kDebianTelnetOpening), kCharacterModeEnd},
        {"Windows telnet", QByteArray(), kLineModeEnd},
    };
    for (const Client& c : clients) {
        SCOPED_TRACE(c.name);
        auto client = server.Connect();
        ASSERT_TRUE(client);
        ASSERT_TRUE(client->Send(c.opening + "alice" + c.lineEnd));
        ASSERT_TRUE(client->WaitFor("Password : "));
        EXPECT_EQ(client->Take().toHex(' '),
                  (Refusals(c.opening) + "alice\r\nPassword : ").toHex(' '));
        ASSERT_TRUE(client->Send("secret" + c.lineEnd));
        ASSERT_TRUE(client->WaitFor("\r\n> "));
        EXPECT_TRUE(client->Take().startsWith("******\n" + kLoggedIn));
        EXPECT_EQ(server.entries.back().what, QByteArray("Logged in as \"alice\""));
    }
}

TEST_F(TelnetClients, BusyboxCharacterModeSwitchDoesNotStartANegotiationLoop) {
    auto client = server.Connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->Send(Bytes(kBusyboxCharacterMode)));
    ASSERT_TRUE(client->WaitForBytes(6));
    EXPECT_EQ(client->Take(), QByteArray("\xff\xfc\x01\xff\xfc\x03"));
    // It answers the refusals with DONT: nothing more comes, however often.
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(client->Send(Bytes(kBusyboxDonts)));
    PumpFor(200, client->Descriptor());
    EXPECT_TRUE(client->Take().isEmpty());
    EXPECT_EQ(server.entries.size(), 1u);  // "Logging in..." only: nothing became a line
}

TEST_F(TelnetClients, EveryLineEndRunsTheCommandOnceEvenSplitAcrossPackets) {
    auto client = LoggedIn();
    ASSERT_TRUE(client);
    const std::vector<std::vector<QByteArray>> typings = {
        {"help" + kCharacterModeEnd},    {"help\r"},       {"help\n"}, {"help\r", "\n"},
        {"help\r", QByteArray(1, '\0')}, {"he", "lp\r\n"},
    };
    for (const auto& packets : typings) {
        for (const QByteArray& packet : packets) {
            ASSERT_TRUE(client->Send(packet));
            PumpFor(20, client->Descriptor());
        }
    }
    ASSERT_TRUE(PumpUntil([&] {
        client->ReadAvailable();
        return client->Received().count("\r\n> ") >= 6;
    }));
    PumpFor(100, client->Descriptor());
    const QByteArray got = client->Take();
    EXPECT_EQ(got.count("exit             Log out\r\n\r\n> "), 6);
    EXPECT_FALSE(got.contains("Unknown command"));
    EXPECT_EQ(got.count("help\r\n"), 6);  // each line echoed with one line end
}

TEST_F(TelnetClients, EraseWorksInTheNameAndThePasswordAndAreYouThereIsAnswered) {
    auto client = server.Connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->Send("\balx\bice\r\n"));
    ASSERT_TRUE(client->WaitFor("Password : "));
    EXPECT_EQ(client->Take(), QByteArray("alx\b \bice\r\nPassword : "));
    ASSERT_TRUE(client->Send("secrex\x7ft\r\n"));
    ASSERT_TRUE(client->WaitFor("\r\n> "));
    EXPECT_TRUE(client->Take().startsWith("******\b \b*\n" + kLoggedIn));
    // Erase and interrupt as Telnet commands: the line typed so far goes. Are-you-there is
    // answered and leaves the line alone.
    ASSERT_TRUE(client->Send("xyz\xff\xf7\xff\xf8hel\xff\xf4he\xff\xf6lp\r\n"));
    ASSERT_TRUE(client->WaitFor("\r\n> "));
    EXPECT_TRUE(client->Take().startsWith(
        "xyz\b \b\b \b\b \bhel\b \b\b \b\b \bhe\r\n[Yes]\r\nlp\r\n\r\nshutdown"));
}

TEST_F(TelnetClients, DoubledIacIsOneByteAndTheEchoQuotesIt) {
    auto client = server.Connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(
        client->Send("\xff\xff"
                     "bob\r\n"));
    ASSERT_TRUE(client->WaitFor("Password : "));
    EXPECT_EQ(client->Take(), QByteArray("\xff\xff"
                                         "bob\r\nPassword : "));
    ASSERT_TRUE(client->Send("pw\r\n"));
    ASSERT_TRUE(client->WaitFor("\r\n> "));
    EXPECT_EQ(server.entries.back().what, QByteArray("Logged in as \"\xff"
                                                     "bob\""));
}

TEST_F(TelnetClients, TypeAheadAfterDosReachesTheShellAndAfterExitIsDropped) {
    auto client = LoggedIn();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->Send("dos\r\necho type$((40+2))ahead\r\n"));
    ASSERT_TRUE(client->WaitFor("type42ahead\r\n", 5000));
    ASSERT_TRUE(client->Send("exit\r\n"));
    ASSERT_TRUE(client->WaitFor("Normal exit from command line.\r\n\r\n> ", 5000));
    client->Take();
    ASSERT_TRUE(client->Send("exit\r\nhelp\r\n"));
    ASSERT_TRUE(client->WaitForEnd(5000));
    EXPECT_EQ(client->Take(), QByteArray("exit\r\n\r\nGoodbye!\r\n"));
    EXPECT_EQ(server.Whats().back(), QByteArray("exit"));

    // Lines typed ahead of a refused login wait for its delayed answer, then log in.
    auto other = server.Connect();
    ASSERT_TRUE(other);
    ASSERT_TRUE(other->Send("alice\r\nwrong\r\nalice\r\nsecret\r\n"));
    ASSERT_TRUE(other->WaitFor("\r\n> ", 10000));
    const QByteArray got = other->Take();
    EXPECT_LT(got.indexOf("Login Failed."), got.indexOf("Login OK."));
    EXPECT_EQ(got.count("Password : "), 2);
}

TEST_F(TelnetClients, CtrlCOfALineModeClientInterruptsTheCommandAndItsTimingMarkIsAnswered) {
    auto client = InDos();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->Send("sleep 100; echo slept\r\n"));
    ASSERT_TRUE(client->WaitFor("sleep 100; echo slept\r\n"));
    // The interrupt must find the command started: the shell runs below this process.
    ASSERT_TRUE(PumpUntil([] { return DescendantRuns(::getpid(), "sleep", 2); }, 10000));
    client->Take();
    ASSERT_TRUE(client->Send(Bytes(kDebianTelnetInterrupt)));
    ASSERT_TRUE(client->WaitFor("\xff\xfb\x06"));
    // The shell is back long before the sleep would have ended, and the line after it ran.
    ASSERT_TRUE(client->Send("echo after\r\n"));
    // Echoed once, answered once.
    ASSERT_TRUE(PumpUntil(
        [&] {
            client->ReadAvailable();
            return client->Received().count("after\r\n") == 2;
        },
        10000));
    EXPECT_FALSE(client->Received().contains("slept"));
}

TEST_F(TelnetClients, AnUrgentDataMarkDoesNotEatTheNextByte) {
    auto client = server.Connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->Send("\xff\xf4"));
    // The synch a client may send after an interrupt: IAC DM, the DM as urgent data.
    ASSERT_EQ(::send(client->Descriptor(), "\xff\xf2", 2, MSG_OOB), 2);
    ASSERT_TRUE(client->Send("alice\r\n"));
    ASSERT_TRUE(client->WaitFor("Password : "));
    EXPECT_EQ(client->Take(), QByteArray("alice\r\nPassword : "));
}

TEST_F(TelnetClients, AScriptThatHalfClosesGetsAllOutputThenTheSessionEnds) {
    auto client = server.Connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->Send("alice\r\nsecret\r\ndos\r\necho hello; sleep 1; echo world\r\n"));
    client->ShutdownSend();
    ASSERT_TRUE(client->WaitFor("\r\nworld\r\n", 10000))
        << client->Received().toHex(' ').toStdString();
    ASSERT_TRUE(client->WaitForEnd(10000));
    const QByteArray got = client->Received();
    EXPECT_LT(got.indexOf("\r\nhello\r\n"), got.indexOf("\r\nworld\r\n"));
    EXPECT_TRUE(got.contains("Normal exit from command line."));
    EXPECT_TRUE(PumpUntil([&] { return server.service.ConnectionCount() == 0; }));
    EXPECT_EQ(server.Whats().back(), QByteArray("Connection terminated"));

    // In line input the lines sent are answered before the end.
    auto other = server.Connect();
    ASSERT_TRUE(other);
    ASSERT_TRUE(other->Send("alice\nsecret\nhelp\n"));
    other->ShutdownSend();
    ASSERT_TRUE(other->WaitForEnd(5000));
    EXPECT_TRUE(other->Received().endsWith("exit             Log out\r\n\r\n> "));
}

TEST_F(TelnetClients, TerminalModeOffersCharacterModeBeforePleaseWait) {
    server.settings.Write(setting::TerminalMode, 1);
    auto client = std::make_unique<LoopbackClient>();
    ASSERT_TRUE(client->Connect(server.port));
    ASSERT_TRUE(client->WaitFor("Username : "));
    EXPECT_EQ(client->Take(), kTerminalOffers + kGreetingBytes);
    // The client takes them up, names its type and size, then types in character mode.
    ASSERT_TRUE(client->Send(Bytes(kDebianTelnetOpening)));
    ASSERT_TRUE(client->WaitFor("\xff\xfc\x05"));
    EXPECT_TRUE(client->Take().contains("\xff\xfa\x18\x01\xff\xf0"));  // the type asked for
    ASSERT_TRUE(client->Send(Bytes(kDebianTelnetAnswers)));
    ASSERT_TRUE(client->SendBytewise("alice" + kCharacterModeEnd));
    ASSERT_TRUE(client->WaitFor("Password : "));
    EXPECT_EQ(client->Take(), QByteArray("alice\r\nPassword : "));

    // Without echo the server does not offer it, and a plain client still gets in.
    server.settings.Write(setting::EchoBack, 0);
    auto quiet = std::make_unique<LoopbackClient>();
    ASSERT_TRUE(quiet->Connect(server.port));
    ASSERT_TRUE(quiet->WaitFor("Username : "));
    EXPECT_EQ(quiet->Take(), kTerminalOffers.mid(3) + kGreetingBytes);
    ASSERT_TRUE(quiet->Send("alice\r\nsecret\r\n"));
    EXPECT_TRUE(quiet->WaitFor("\r\n> "));
}

}  // namespace
}  // namespace orvane::test
