// The log file: harmless bytes, a private new file, rotation, and nothing but regular files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include "TestEnvironment.h"
#include "config/LogFileWriter.h"
#include "platform/RegularFile.h"

using namespace orvane;

namespace {
QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}
}  // namespace

TEST(LogFileWriter, ControlBytesFromClientsBecomeVisibleEscapes) {
    EXPECT_EQ(EscapeControlBytes(QByteArray("\x1b[2J") + QByteArray(1, '\0') + "a\x7f\x1f b\xe9~"),
              QByteArray("\\x1B[2J\\x00a\\x7F\\x1F b\xe9~"));
    EXPECT_EQ(EscapeControlBytes("Logged in as \"Administrator\""),
              QByteArray("Logged in as \"Administrator\""));
}

TEST(LogFileWriter, ANewLogIsPrivateAndOnePastItsLimitMovesToDotOne) {
    const QString dir = test::MakeTempDir();
    const QString log = dir + QStringLiteral("/ORVANE.LOG");
    const QByteArray line(100, 'x');
    ASSERT_TRUE(AppendLogLine(log, line, 0));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(log).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // 0 means no limit.
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(AppendLogLine(log, line, 0));
    EXPECT_EQ(Contents(log).size(), 2100);

    // Past the limit: the old log becomes ".1", replacing an older one; a new file starts.
    QFile::remove(log + QStringLiteral(".1"));
    {
        QFile older(log + QStringLiteral(".1"));
        ASSERT_TRUE(older.open(QIODevice::WriteOnly));
        older.write("older");
    }
    ASSERT_TRUE(AppendLogLine(log, "new\r\n", 2100));
    EXPECT_EQ(Contents(log + QStringLiteral(".1")).size(), 2100);
    EXPECT_EQ(Contents(log), QByteArray("new\r\n"));
    ASSERT_EQ(::stat(QFile::encodeName(log).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // Below the limit it just grows.
    ASSERT_TRUE(AppendLogLine(log, "more\r\n", 2100));
    EXPECT_EQ(Contents(log), QByteArray("new\r\nmore\r\n"));
}

TEST(LogFileWriter, AFifoOrADirectoryUnderTheNameIsRefusedWithoutHanging) {
    const QString dir = test::MakeTempDir();
    const QString fifo = dir + QStringLiteral("/ORVANE.LOG");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(AppendLogLine(fifo, "line\r\n", 0));
    EXPECT_FALSE(IsRegularFileOrMissing(fifo));
    EXPECT_LT(OpenRegularFile(fifo, O_RDONLY), 0);
    EXPECT_FALSE(AppendLogLine(dir, "line\r\n", 0));
    EXPECT_FALSE(IsRegularFileOrMissing(dir));
    EXPECT_TRUE(IsRegularFileOrMissing(dir + QStringLiteral("/absent")));
}
