// What a client sees while typing: the greeting, echo, password masking and line ends.
#include <gtest/gtest.h>

#include "TelnetServerFixture.h"

namespace orvane::test {
namespace {

class LineInput : public ::testing::Test {
protected:
    void SetUp() override {
        server.AddUser("alice", "secret");
        ASSERT_NE(server.Start(), 0);
    }
    TelnetServerFixture server;
};

TEST_F(LineInput, NewClientReceivesPleaseWaitThenTheGreetingAndTheUsernamePrompt) {
    LoopbackClient client;
    ASSERT_TRUE(client.Connect(server.port));
    ASSERT_TRUE(client.WaitFor("Username : "));
    EXPECT_EQ(client.Take(), QByteArray(kGreetingBytes));
    ASSERT_FALSE(server.entries.empty());
    EXPECT_EQ(server.entries.back().who, "127.0.0.1");
    EXPECT_EQ(server.entries.back().what, "Logging in...");
    EXPECT_EQ(server.service.ConnectionCount(), 1);
}

TEST_F(LineInput, UserNameIsEchoedAndThePasswordShowsOnlyAsterisks) {
    auto client = server.Connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->Send("alice\r\n"));
    ASSERT_TRUE(client->WaitFor("Password : "));
    // The line feed is dropped; the word and its carriage return come back, then one LF.
    EXPECT_EQ(client->Take(), QByteArray("alice\r\nPassword : "));
    ASSERT_TRUE(client->Send("secret\r\n"));
    ASSERT_TRUE(client->WaitFor("\r\n> "));
    EXPECT_TRUE(client->Take().startsWith("******\n\r\n\r\nLogin OK.\r\n"));
}

TEST_F(LineInput, OneBytePerPacketGivesTheSameResultAsAWholeLine) {
    auto client = server.Connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->SendBytewise("alice\r\n"));
    ASSERT_TRUE(client->WaitFor("Password : "));
    EXPECT_EQ(client->Take(), QByteArray("alice\r\nPassword : "));
    ASSERT_TRUE(client->SendBytewise("secret\r\n"));
    ASSERT_TRUE(client->WaitFor("\r\n> "));
    EXPECT_TRUE(client->Take().startsWith("******\n\r\n\r\nLogin OK.\r\n"));
    ASSERT_TRUE(client->SendBytewise("help\r\n"));
    ASSERT_TRUE(client->WaitFor("\r\n> "));
    EXPECT_EQ(client->Take(), QByteArray("help\r\n\r\nshutdown         Shut down and stay off\r\n"
                                         "reboot           Shut down and reboot\r\n"
                                         "dos              Command line prompt\r\n"
                                         "exit             Log out\r\n\r\n> "));
}

TEST_F(LineInput, WithEchoOffNothingTypedComesBack) {
    server.settings.Write(setting::EchoBack, 0);
    auto client = server.Connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->Send("alice\r\n"));
    ASSERT_TRUE(client->WaitFor("Password : "));
    EXPECT_EQ(client->Take(), QByteArray("Password : "));
    ASSERT_TRUE(client->Send("secx\x7fret"));
    PumpFor(30, client->Descriptor());
    EXPECT_TRUE(client->Take().isEmpty());
    ASSERT_TRUE(client->Send("\n"));
    ASSERT_TRUE(client->WaitFor("\r\n> "));
    EXPECT_TRUE(client->Take().startsWith("\r\n\r\nLogin OK."));
}

TEST_F(LineInput, EchoSettingChangedWhileConnectedTakesEffectAtTheNextChunk) {
    auto client = server.Connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->Send("al"));
    ASSERT_TRUE(client->WaitFor("al"));
    server.settings.Write(setting::EchoBack, 0);
    ASSERT_TRUE(client->Send("ice\r"));
    ASSERT_TRUE(client->WaitFor("Password : "));
    EXPECT_EQ(client->Take(), QByteArray("alPassword : "));
}

TEST_F(LineInput, ALineFeedOrNulAfterACarriageReturnChangesNothing) {
    auto client = server.Connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->Send("alice\r"));
    ASSERT_TRUE(client->WaitFor("Password : "));
    client->Take();
    // The rest of the line end, in a packet of its own: no empty password line.
    ASSERT_TRUE(client->Send("\n"));
    PumpFor(30, client->Descriptor());
    EXPECT_TRUE(client->Take().isEmpty());
    ASSERT_TRUE(client->Send("secret\r"));
    ASSERT_TRUE(client->WaitFor("\r\n> "));
    client->Take();
    ASSERT_TRUE(client->Send(QByteArray(1, '\0')));
    PumpFor(30, client->Descriptor());
    EXPECT_TRUE(client->Take().isEmpty());
}

TEST_F(LineInput, LongLinesAreCutAtTheLimitAndALongChunkIsKeptWhole) {
    auto client = server.Connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(server.Login(*client, "alice", "secret"));
    client->Take();

    // 150 characters and CR in one chunk: one command line of all 150.
    const QByteArray longLine(150, 'x');
    ASSERT_TRUE(client->Send(longLine + "\r"));
    ASSERT_TRUE(client->WaitFor("Unknown command\r\n\r\n> "));
    EXPECT_EQ(server.entries.back().what, longLine);

    // 101 characters one by one without CR: the line is complete with the first 100.
    client->Take();
    ASSERT_TRUE(client->SendBytewise(QByteArray(100, 'a') + "b"));
    ASSERT_TRUE(client->WaitFor("Unknown command\r\n\r\n> "));
    EXPECT_EQ(server.entries.back().what, QByteArray(100, 'a'));
    EXPECT_TRUE(client->Take().startsWith(QByteArray(100, 'a') + "b\n"));
}

TEST_F(LineInput, TelnetNegotiationBytesAreRefusedAndNeverPartOfTheUserName) {
    auto client = server.Connect();
    ASSERT_TRUE(client);
    const QByteArray negotiation("\xff\xfd\x01", 3);
    ASSERT_TRUE(client->Send(negotiation + "alice\r"));
    ASSERT_TRUE(client->WaitFor("Password : "));
    EXPECT_EQ(client->Take(), QByteArray("\xff\xfc\x01"
                                         "alice\r\nPassword : "));
    ASSERT_TRUE(client->Send("secret\r"));
    ASSERT_TRUE(client->WaitFor("Login OK."));
    EXPECT_EQ(server.entries.back().what, "Logged in as \"alice\"");
}

}  // namespace
}  // namespace orvane::test
