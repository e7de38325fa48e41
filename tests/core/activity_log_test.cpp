// The activity log: its time text, its file lines and its failure row.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>

#include "TelnetServerFixture.h"

namespace orvane::test {
namespace {

class ActivityLogFile : public ::testing::Test {
protected:
    ActivityLogFile() {
        server.log.SetClock([] { return QDateTime(QDate(1999, 7, 4), QTime(21, 5, 3)); });
    }
    TelnetServerFixture server;
};

TEST(ActivityLogText, TimeTextHasNoLeadingZerosExceptMinutesAndSeconds) {
    EXPECT_EQ(ActivityLog::TimeText(QDateTime(QDate(1999, 7, 4), QTime(9, 5, 3))),
              "7/4/1999 9:05:03");
    EXPECT_EQ(ActivityLog::TimeText(QDateTime(QDate(2024, 12, 31), QTime(21, 5, 3))),
              "12/31/2024 21:05:03");
}

TEST_F(ActivityLogFile, EntriesAreAppendedAsPaddedLinesAfterExistingBytes) {
    {
        QFile file(server.logFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("old");  // no line end: the next line follows right after it
    }
    server.log.LogActivity("10.0.0.7", "Logging in...");
    const QByteArray longWho(40, 'h');
    server.log.LogActivity(longWho, "Connection terminated");
    EXPECT_EQ(server.LogFileContents(),
              "old7/4/1999 21:05:03        10.0.0.7                 Logging in...\r\n"
              "7/4/1999 21:05:03        " +
                  longWho + "Connection terminated\r\n");
}

TEST_F(ActivityLogFile, BytesAreWrittenExactlyAsSentAndLongLinesAreNeverCut) {
    const QByteArray what = QByteArray("\xe9\xff caf\xc3\xa9 ") + QByteArray(3000, 'z');
    server.log.LogActivity("127.0.0.1", what);
    EXPECT_TRUE(server.LogFileContents().endsWith(what + "\r\n"));
}

TEST_F(ActivityLogFile, UnreachableLogFileAddsTheServerRowAndNothingWhenLoggingIsOff) {
    server.settings.Write(setting::LogFile, server.directory + "/missing/dir/x.log");
    server.log.LogActivity("127.0.0.1", "Logging in...");
    ASSERT_EQ(server.entries.size(), 2u);
    EXPECT_EQ(server.entries[1].who, "!Server");
    EXPECT_EQ(server.entries[1].what, "Cant access log file!");
    EXPECT_EQ(server.entries[1].when, server.entries[0].when);

    server.settings.Write(setting::EnableLog, 0);
    server.log.LogActivity("127.0.0.1", "Connection terminated");
    EXPECT_EQ(server.entries.size(), 3u);
}

TEST_F(ActivityLogFile, PastLogMaxSizeTheLogMovesToDotOneAndAFifoIsNeverWaitedOn) {
    server.settings.Write(setting::LogMaxSize, 1);
    const QByteArray what(200, 'w');
    for (int i = 0; i < 10; ++i) server.log.LogActivity("127.0.0.1", what);
    QFile kept(server.logFile + ".1");
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_GT(kept.size(), 0);
    EXPECT_LE(kept.size(), 1024);
    EXPECT_LE(server.LogFileContents().size(), 1024);
    EXPECT_EQ(
        QFile(server.logFile).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
        QFileDevice::Permissions());

    const QString fifo = server.directory + "/fifo.log";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    server.settings.Write(setting::LogFile, fifo);
    server.log.LogActivity("127.0.0.1", "Logging in...");
    EXPECT_EQ(server.entries.back().what, "Cant access log file!");
}

TEST_F(ActivityLogFile, LogFileSettingIsReadForEveryEntry) {
    server.log.LogActivity("a", "first");
    const QString other = server.directory + "/other.log";
    server.settings.Write(setting::LogFile, other);
    server.log.LogActivity("b", "second");
    EXPECT_TRUE(server.LogFileContents().contains("first"));
    EXPECT_FALSE(server.LogFileContents().contains("second"));
    QFile file(other);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("second"));
}

TEST_F(ActivityLogFile, ASessionsLoginAndCommandsReachTheFile) {
    server.AddUser("alice", "secret");
    ASSERT_NE(server.Start(), 0);
    auto client = server.Connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(server.Login(*client, "alice", "secret"));
    client->Send("dir\r");
    ASSERT_TRUE(client->WaitFor("Unknown command"));
    client->Close();
    ASSERT_TRUE(PumpUntil([&] { return server.service.ConnectionCount() == 0; }));
    const QByteArray who = QByteArray("127.0.0.1").leftJustified(25, ' ');
    const QByteArray when = QByteArray("7/4/1999 21:05:03").leftJustified(25, ' ');
    EXPECT_EQ(server.LogFileContents(), when + who + "Logging in...\r\n" + when + who +
                                            "Logged in as \"alice\"\r\n" + when + who + "dir\r\n" +
                                            when + who + "Connection terminated\r\n");
}

}  // namespace
}  // namespace orvane::test
