// What the server does when the machine around it fails: the log's directory gone or
// blocked, the settings file unreadable, the database directory gone, the port taken.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include "TelnetServerFixture.h"
#include "TestEnvironment.h"

namespace orvane::test {
namespace {

const QByteArray kServerWho = "!Server";
const QByteArray kLogFailed = "Cant access log file!";

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

class LogFileFaults : public ::testing::Test {
protected:
    LogFileFaults() {
        QObject::connect(&server.log, &ActivityLog::entryAdded,
                         [this](const ActivityEntry& entry) { entries.push_back(entry); });
    }
    std::vector<QByteArray> Whats() const {
        std::vector<QByteArray> whats;
        for (const ActivityEntry& entry : entries) whats.push_back(entry.what);
        return whats;
    }
    // Declared first: the server's last entries still reach it while the server goes.
    std::vector<ActivityEntry> entries;
    TelnetServerFixture server;
};

TEST_F(LogFileFaults, LogDirectoryRemovedWhileRunningKeepsEveryEntryInTheListAndResumes) {
    const QString logDir = server.directory + QStringLiteral("/logs");
    const QString logFile = logDir + QStringLiteral("/activity.log");
    ASSERT_TRUE(QDir().mkpath(logDir));
    server.settings.Write(setting::LogFile, logFile);
    server.AddUser("alice", "secret");
    ASSERT_NE(server.Start(), 0);
    auto client = server.Connect();
    ASSERT_TRUE(client);

    ASSERT_TRUE(QDir(logDir).removeRecursively());
    ASSERT_TRUE(server.Login(*client, "alice", "secret"));
    client->Take();
    client->Send("help\r");
    ASSERT_TRUE(client->WaitFor("Log out\r\n\r\n> "));
    EXPECT_EQ(Whats(), (std::vector<QByteArray>{"Logging in...", "Logged in as \"alice\"",
                                                kLogFailed, "help", kLogFailed}));
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries[2].who, kServerWho);
    EXPECT_EQ(entries[2].when, entries[1].when);

    // The directory comes back: the next entry is written, without a failure row.
    ASSERT_TRUE(QDir().mkpath(logDir));
    client->Send("dir\r");
    ASSERT_TRUE(client->WaitFor("Unknown command"));
    EXPECT_EQ(Whats().back(), "dir");
    const QByteArray written = ReadAll(logFile);
    EXPECT_TRUE(written.endsWith("dir\r\n")) << written.constData();
    EXPECT_FALSE(written.contains("help"));
}

TEST_F(LogFileFaults, RegularFileWhereTheDirectoryShouldBeGivesAFailureRowPerEntry) {
    const QString blocker = server.directory + QStringLiteral("/logs");
    WriteAll(blocker, "not a directory");
    server.settings.Write(setting::LogFile, blocker + QStringLiteral("/activity.log"));
    server.log.LogActivity("10.0.0.1", "Logging in...");
    server.log.LogActivity("10.0.0.1", "Connection terminated");
    // The log file's path names a directory itself.
    server.settings.Write(setting::LogFile, server.directory);
    server.log.LogActivity("10.0.0.2", "Logging in...");
    EXPECT_EQ(Whats(),
              (std::vector<QByteArray>{"Logging in...", kLogFailed, "Connection terminated",
                                       kLogFailed, "Logging in...", kLogFailed}));
    EXPECT_EQ(ReadAll(blocker), "not a directory");
}

TEST(DatabaseFaults, ProgramDirectoryRemovedAtSaveKeepsTheLiveTableAndSavesOnceItIsBack) {
    TelnetServerFixture server;
    server.AddUser("alice", "secret");
    ASSERT_TRUE(server.app.SaveUserDatabase());
    ASSERT_TRUE(QDir(server.directory).removeRecursively());

    server.AddUser("bob", "pw");
    EXPECT_FALSE(server.app.SaveUserDatabase());
    ASSERT_EQ(server.messages.shown.size(), 1u);
    EXPECT_EQ(server.messages.shown[0].text, QStringLiteral("Could not save user database."));
    ASSERT_EQ(server.app.Users().count, 2);
    EXPECT_STREQ(server.app.Users().records[1].name, "bob");
    EXPECT_STREQ(server.app.Users().records[1].password, "pw");

    ASSERT_TRUE(QDir().mkpath(server.directory));
    ASSERT_TRUE(server.app.SaveUserDatabase());
    auto loaded = std::make_unique<UserTable>();
    UserDatabase(server.app.DataFilePath(), server.messages).Load(*loaded);
    EXPECT_EQ(loaded->count, 2);
}

QString FreshSettingsPath() {
    return MakeTempDir(QStringLiteral("settings-fault")) + QStringLiteral("/Orvane.conf");
}

TEST(SettingsFileFaults, DirectoryInPlaceOfTheFileReadsDefaultsAndWritesFailWithoutHarm) {
    const QString path = FreshSettingsPath();
    ASSERT_TRUE(QDir().mkpath(path + QStringLiteral("/inside")));
    SettingsStore store(path);
    for (const IntSetting& option : kAllIntSettings) {
        EXPECT_EQ(store.Read(option), option.defaultValue) << option.key;
    }
    EXPECT_EQ(store.Read(setting::LoginOK), QStringLiteral("Login OK."));
    EXPECT_FALSE(store.WriteProfileInt(QStringLiteral("Settings"), QStringLiteral("PortNr"), 2323));
    EXPECT_EQ(store.Read(setting::PortNr), 23);
    EXPECT_TRUE(QFileInfo(path + QStringLiteral("/inside")).isDir());
}

TEST(SettingsFileFaults, JunkFileReadsDefaultsAndIsKeptAsideBeforeTheFirstWrite) {
    const QString path = FreshSettingsPath();
    const QByteArray junk("\x01\x02\xff[Settings\nPortNr=2323\nno equals sign here\n\0\0junk", 48);
    WriteAll(path, junk);
    SettingsStore store(path);
    for (const IntSetting& option : kAllIntSettings) {
        if (option.key != QByteArray("PortNr")) {
            EXPECT_EQ(store.Read(option), option.defaultValue) << option.key;
        }
    }
    EXPECT_EQ(store.Read(setting::LoginFail), QStringLiteral("Login Failed."));

    // Writing still works, and what could not be read is not lost with the rewrite.
    EXPECT_TRUE(store.WriteProfileInt(QStringLiteral("Settings"), QStringLiteral("EchoBack"), 0));
    EXPECT_EQ(store.Read(setting::EchoBack), 0);
    EXPECT_EQ(ReadAll(path + QStringLiteral(".unreadable")), junk);
    // The rewritten file reads completely: the next write keeps nothing more aside.
    EXPECT_TRUE(store.WriteProfileInt(QStringLiteral("Settings"), QStringLiteral("EchoBack"), 1));
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".unreadable.1")));

    // Junk again later, with the first copy still there: a second copy beside it.
    WriteAll(path, "[Settings\nstill broken\n");
    EXPECT_TRUE(store.WriteProfileInt(QStringLiteral("Settings"), QStringLiteral("EchoBack"), 0));
    EXPECT_EQ(ReadAll(path + QStringLiteral(".unreadable")), junk);
    EXPECT_EQ(ReadAll(path + QStringLiteral(".unreadable.1")), "[Settings\nstill broken\n");
}

TEST(SettingsFileFaults, WriteReportsSuccessAfterAnEarlierReadMetJunk) {
    const QString path = FreshSettingsPath();
    WriteAll(path, "[Settings\n");
    SettingsStore store(path);
    EXPECT_EQ(store.Read(setting::PortNr), 23);
    EXPECT_TRUE(store.WriteProfileString(QStringLiteral("Settings"), QStringLiteral("LoginOK"),
                                         QStringLiteral("Hi")));
    EXPECT_TRUE(store.WriteProfileString(QStringLiteral("Settings"), QStringLiteral("LoginOK"),
                                         QStringLiteral("Hello")));
    EXPECT_EQ(SettingsStore(path).Read(setting::LoginOK), QStringLiteral("Hello"));
}

TEST(ListenPortFaults, PortHeldByAnotherProgramFailsTheStartAndLeavesNothingListening) {
    // Another program listens on a free port of every address, as the server would.
    const int other = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(other, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(other, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(other, 4), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(other, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const int port = ntohs(address.sin_port);

    TelnetServerFixture server;
    server.settings.Write(setting::PortNr, port);
    EXPECT_EQ(server.service.StartServer(), 0);
    EXPECT_FALSE(server.service.IsListening());
    EXPECT_EQ(server.service.BoundPort(), 0);
    ::close(other);

    // Once the other program has gone, the same server starts on that port.
    EXPECT_EQ(server.service.StartServer(), 1);
    EXPECT_EQ(server.service.BoundPort(), port);
}

}  // namespace
}  // namespace orvane::test
