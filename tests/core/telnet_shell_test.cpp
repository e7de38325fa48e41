// Logging in and the five commands, with and without rights; power is always faked.
#include <gtest/gtest.h>

#include "TelnetServerFixture.h"

namespace orvane::test {
namespace {

constexpr const char* kHelp =
    "\r\nshutdown         Shut down and stay off\r\n"
    "reboot           Shut down and reboot\r\n"
    "dos              Command line prompt\r\n"
    "exit             Log out\r\n";

class Shell : public ::testing::Test {
protected:
    void SetUp() override {
        server.AddUser("Administrator", "Pa55word", 1, 1, 1);
        server.AddUser("guest", "guest", 1, 0, 0, "Welcome, guest");
        server.AddUser("banned", "banned", 0, 1, 1);
        ASSERT_NE(server.Start(), 0);
    }
    std::unique_ptr<LoopbackClient> LoggedIn(const char* name, const char* password) {
        auto client = server.Connect();
        if (!client || !server.Login(*client, name, password)) return nullptr;
        client->Take();
        return client;
    }
    // One refused login: a line for the name, a line for the password.
    bool Refuse(LoopbackClient& client) {
        return client.Send("x\r") && client.WaitFor("Password : ") && client.Send("y\r");
    }
    QByteArray Command(LoopbackClient& client, const char* line, const char* until = "\r\n> ") {
        client.Take();
        client.Send(QByteArray(line) + "\r\n");
        client.WaitFor(until);
        return client.Take();
    }
    TelnetServerFixture server;
};

TEST_F(Shell, LoginIgnoresCaseOfNameAndPasswordAndShowsLoginOk) {
    auto client = server.Connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(server.Login(*client, "ADMINISTRATOR", "pA55WORD"));
    EXPECT_EQ(client->Take(), QByteArray("ADMINISTRATOR\r\nPassword : ********\n\r\n\r\n"
                                         "Login OK.\r\n") +
                                  kHelp + "\r\n> ");
    EXPECT_EQ(server.entries.back().what, "Logged in as \"ADMINISTRATOR\"");
    ASSERT_EQ(server.sound.played.size(), 1);
    EXPECT_TRUE(server.sound.played[0].endsWith("/LOGIN.WAV"));
}

TEST_F(Shell, UserWithAGreetingGetsItInsteadOfLoginOk) {
    auto client = server.Connect();
    ASSERT_TRUE(client);
    server.settings.Write(setting::S1Enable, 0);
    ASSERT_TRUE(server.Login(*client, "guest", "guest"));
    EXPECT_TRUE(
        client->Take().endsWith(QByteArray("*****\n\r\nWelcome, guest\r\n") + kHelp + "\r\n> "));
    EXPECT_TRUE(server.sound.played.isEmpty());
}

TEST_F(Shell, UserWhoMayNotLogInIsRefusedLikeAWrongPassword) {
    auto client = server.Connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->Send("banned\r"));
    ASSERT_TRUE(client->WaitFor("Password : "));
    ASSERT_TRUE(client->Send("banned\r"));
    ASSERT_TRUE(client->WaitFor("Username : "));
    EXPECT_EQ(client->Take(),
              QByteArray("banned\r\nPassword : ******\n\r\n\r\nLogin Failed.\r\n\r\nUsername : "));
    EXPECT_EQ(server.entries.back().what, "Login as \"banned\" failed");
}

TEST_F(Shell, ThirdRefusalEndsTheConversationAndFurtherInputIsIgnored) {
    auto client = server.Connect();
    ASSERT_TRUE(client);
    for (int attempt = 0; attempt < 2; ++attempt) {
        ASSERT_TRUE(Refuse(*client));
        ASSERT_TRUE(client->WaitFor("Username : "));
        client->Take();
    }
    ASSERT_TRUE(Refuse(*client));
    ASSERT_TRUE(client->WaitForEnd());
    EXPECT_EQ(client->Take(), QByteArray("x\r\nPassword : *\n\r\n\r\nLogin Failed.\r\n\r\n"));
    const size_t entries = server.entries.size();
    client->Send("Administrator\r");
    PumpFor(10);
    client->Send("Pa55word\r");
    PumpFor(30);
    EXPECT_EQ(server.entries.size(), entries);
    EXPECT_EQ(server.service.ConnectionCount(), 1);
    client->Close();
    ASSERT_TRUE(PumpUntil([&] { return server.service.ConnectionCount() == 0; }));
}

TEST_F(Shell, LimitOfOneLocksAtTheFirstRefusalAndZeroNeverLocks) {
    server.settings.Write(setting::FailedLogins, 1);
    auto locked = server.Connect();
    ASSERT_TRUE(locked);
    ASSERT_TRUE(Refuse(*locked));
    ASSERT_TRUE(locked->WaitForEnd());

    server.settings.Write(setting::FailedLogins, 0);
    auto patient = server.Connect();
    ASSERT_TRUE(patient);
    for (int attempt = 0; attempt < 6; ++attempt) {
        ASSERT_TRUE(Refuse(*patient));
        ASSERT_TRUE(patient->WaitFor("Username : "));
        patient->Take();
    }
    EXPECT_FALSE(patient->EndSeen());
}

TEST_F(Shell, LoweringTheLimitBelowTheFailuresSoFarLocksAtTheNextRefusal) {
    server.settings.Write(setting::FailedLogins, 5);
    auto client = server.Connect();
    ASSERT_TRUE(client);
    for (int attempt = 0; attempt < 3; ++attempt) {
        ASSERT_TRUE(Refuse(*client));
        ASSERT_TRUE(client->WaitFor("Username : "));
        client->Take();
    }
    server.settings.Write(setting::FailedLogins, 2);
    ASSERT_TRUE(Refuse(*client));
    ASSERT_TRUE(client->WaitForEnd());
    EXPECT_FALSE(client->Take().contains("Username : "));
}

TEST_F(Shell, HelpInAnyCaseAndUnknownCommands) {
    auto client = LoggedIn("guest", "guest");
    ASSERT_TRUE(client);
    EXPECT_EQ(Command(*client, "HeLp"), QByteArray("HeLp\r\n") + kHelp + "\r\n> ");
    EXPECT_EQ(Command(*client, "help "), QByteArray("help \r\n\r\nUnknown command\r\n\r\n> "));
    EXPECT_EQ(Command(*client, ""), QByteArray("\r\n\r\n> "));
    // Every command line is recorded, the empty one too, before it runs.
    const auto whats = server.Whats();
    ASSERT_GE(whats.size(), 3u);
    EXPECT_EQ(whats[whats.size() - 3], "HeLp");
    EXPECT_EQ(whats[whats.size() - 2], "help ");
    EXPECT_EQ(whats[whats.size() - 1], "");
}

TEST_F(Shell, CommandsNeedingRightsAreRefusedWithoutThem) {
    auto client = LoggedIn("guest", "guest");
    ASSERT_TRUE(client);
    const QByteArray refusal("\r\nError : No priveleges for that operation\r\n\r\n> ");
    EXPECT_EQ(Command(*client, "reboot"), "reboot" + refusal);
    EXPECT_EQ(Command(*client, "shutdown"), "shutdown" + refusal);
    EXPECT_EQ(Command(*client, "dos"), "dos" + refusal);
    EXPECT_TRUE(server.power.exitRequests.empty());
    EXPECT_EQ(server.power.openCalls, 0);
}

TEST_F(Shell, AcceptedRebootAsksForPrivilegesThenEndsTheStream) {
    auto client = LoggedIn("Administrator", "Pa55word");
    ASSERT_TRUE(client);
    client->Send("reboot\r");
    ASSERT_TRUE(client->WaitForEnd());
    EXPECT_EQ(client->Take(), QByteArray("reboot\r\n\r\nRequesting shutdown priveleges...\r\n"
                                         "\r\nShutting down...\r\n"));
    EXPECT_EQ(server.power.exitRequests, std::vector<unsigned>{kExitReboot});
    EXPECT_EQ(server.power.enableCalls, 1);
}

TEST_F(Shell, RefusedShutdownReportsEveryFailedPrivilegeStepAndPromptsAgain) {
    server.power.acceptExit = false;
    server.power.openResult = {false, 1, QStringLiteral("Operation not permitted")};
    server.power.lookupResult = {false, 22, QString()};
    server.power.enableResult = {false, 1, QStringLiteral("Operation not permitted")};
    auto client = LoggedIn("Administrator", "Pa55word");
    ASSERT_TRUE(client);
    EXPECT_EQ(Command(*client, "shutdown"),
              QByteArray("shutdown\r\n\r\nRequesting shutdown priveleges...\r\n"
                         "OpenProcessToken Failed : 1 (Operation not permitted)\r\n"
                         "LookupPrivilegeValue Failed : 22\r\n"
                         "AdjustTokenPriveleges Failed : 1 (Operation not permitted)\r\n"
                         "\r\nShutting down...\r\n"
                         "Shutdown failed! If your host system is Windows NT,\r\nthis process "
                         "does not have priveleges to shut down the system.\r\n\r\n> "));
    EXPECT_EQ(server.power.exitRequests, std::vector<unsigned>{kExitShutdown});
}

TEST_F(Shell, DosWithoutAnInterpreterSaysCreateProcessFailedAndStaysLoggedIn) {
    auto client = LoggedIn("Administrator", "Pa55word");
    ASSERT_TRUE(client);
    EXPECT_EQ(Command(*client, "dos"), QByteArray("dos\r\n\r\nCreateProcess failed\r\n\r\n> "));
    EXPECT_EQ(Command(*client, "help"), QByteArray("help\r\n") + kHelp + "\r\n> ");
}

TEST_F(Shell, ExitSaysGoodbyeAndEndsTheStreamButTheSessionLivesUntilTheClientCloses) {
    auto client = LoggedIn("guest", "guest");
    ASSERT_TRUE(client);
    client->Send("exit\r");
    ASSERT_TRUE(client->WaitForEnd());
    EXPECT_EQ(client->Take(), QByteArray("exit\r\n\r\nGoodbye!\r\n"));
    EXPECT_EQ(server.service.ConnectionCount(), 1);
    client->Close();
    ASSERT_TRUE(PumpUntil([&] { return server.service.ConnectionCount() == 0; }));
    EXPECT_EQ(server.entries.back().what, "Connection terminated");
    EXPECT_TRUE(server.sound.played.last().endsWith("/LOGOUT.WAV"));
}

}  // namespace
}  // namespace orvane::test
