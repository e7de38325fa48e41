// The autostart entry as the XDG autostart desktop file.
#include "config/Autostart.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "FakeMessageBox.h"
#include "TestEnvironment.h"

namespace orvane {
namespace {

const QString kAddFailed = QStringLiteral("Failed to add self to RUN list in registry.");
const QString kRemoveFailed = QStringLiteral("Failed to remove self from RUN list in registry.");

class AutostartTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = qgetenv("XDG_CONFIG_DIRS");
        m_configDir = test::MakeTempDir(QStringLiteral("xdg"));
        qputenv("XDG_CONFIG_DIRS", (m_configDir + QStringLiteral(":/unused/second")).toUtf8());
    }
    void TearDown() override { qputenv("XDG_CONFIG_DIRS", m_saved); }

    QString EntryPath() const { return m_configDir + QStringLiteral("/autostart/Orvane.desktop"); }
    void WriteEntry(const QByteArray& content) {
        QDir().mkpath(m_configDir + QStringLiteral("/autostart"));
        QFile file(EntryPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QByteArray ReadEntry() const {
        QFile file(EntryPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QByteArray m_saved;
    QString m_configDir;
    test::FakeMessageBox m_messages;
};

TEST_F(AutostartTest, EntryIsAddedDetectedAndRemovedInTheFirstConfigDirectory) {
    EXPECT_EQ(RunListDirectory(), m_configDir + QStringLiteral("/autostart"));
    EXPECT_FALSE(IsInRunList(QStringLiteral("Orvane")));

    AddToRunList(QStringLiteral("Orvane"), QStringLiteral("/opt/Tools/orvane"), m_messages);
    EXPECT_TRUE(IsInRunList(QStringLiteral("Orvane")));
    const QByteArray content = ReadEntry();
    EXPECT_TRUE(content.startsWith("[Desktop Entry]\n"));
    // The path keeps its case: an upper-cased path would not start on Linux.
    EXPECT_TRUE(content.contains("\nExec=/opt/Tools/orvane\n")) << content.constData();

    RemoveFromRunList(QStringLiteral("Orvane"), m_messages);
    EXPECT_FALSE(IsInRunList(QStringLiteral("Orvane")));
    EXPECT_FALSE(QFile::exists(EntryPath()));
    EXPECT_TRUE(m_messages.shown.empty());
}

TEST_F(AutostartTest, DefaultListIsInEtcXdgWhenNoConfigDirsAreSet) {
    qunsetenv("XDG_CONFIG_DIRS");
    EXPECT_EQ(RunListDirectory(), QStringLiteral("/etc/xdg/autostart"));
}

TEST_F(AutostartTest, AddingAgainReplacesTheEarlierEntry) {
    WriteEntry("[Desktop Entry]\nType=Application\nExec=/old/place/orvane\n");
    AddToRunList(QStringLiteral("Orvane"), QStringLiteral("/new/place/orvane"), m_messages);
    EXPECT_TRUE(ReadEntry().contains("Exec=/new/place/orvane\n"));
    EXPECT_FALSE(ReadEntry().contains("/old/place"));
}

TEST_F(AutostartTest, EntryNamingAnotherProgramCountsAsPresent) {
    WriteEntry("[Desktop Entry]\nType=Application\nExec=/some/old/install/orvane\n");
    EXPECT_TRUE(IsInRunList(QStringLiteral("Orvane")));
}

TEST_F(AutostartTest, EntryWithMoreThan900BytesOfExecCountsAsAbsent) {
    WriteEntry("[Desktop Entry]\nExec=/" + QByteArray(899, 'a') + "\n");
    EXPECT_TRUE(IsInRunList(QStringLiteral("Orvane")));  // exactly 900 bytes
    WriteEntry("[Desktop Entry]\nExec=/" + QByteArray(900, 'a') + "\n");
    EXPECT_FALSE(IsInRunList(QStringLiteral("Orvane")));
}

TEST_F(AutostartTest, PathWithBlanksIsQuotedSoTheLauncherDoesNotSplitIt) {
    EXPECT_EQ(ExecValueForProgram(QStringLiteral("/opt/My Tools/orvane")),
              QStringLiteral("\"/opt/My Tools/orvane\""));
    EXPECT_EQ(ExecValueForProgram(QStringLiteral("/opt/100%/orvane")),
              QStringLiteral("/opt/100%%/orvane"));
    // Inside quotes a backslash is escaped for the launcher, then again for the file format.
    EXPECT_EQ(ExecValueForProgram(QStringLiteral("/opt/a\\b")),
              QStringLiteral("\"/opt/a\\\\\\\\b\""));
}

TEST_F(AutostartTest, UnusableListDirectoryMakesAddAndRemoveSilentNoOps) {
    // A regular file where the directory should be: even root cannot open it as one.
    QFile blocker(m_configDir + QStringLiteral("/autostart"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    AddToRunList(QStringLiteral("Orvane"), QStringLiteral("/opt/orvane"), m_messages);
    RemoveFromRunList(QStringLiteral("Orvane"), m_messages);
    EXPECT_FALSE(IsInRunList(QStringLiteral("Orvane")));
    EXPECT_TRUE(m_messages.shown.empty());
}

TEST_F(AutostartTest, EntryThatCannotBeWrittenShowsTheAddFailure) {
    // A directory in the entry's place cannot be replaced by a file.
    ASSERT_TRUE(QDir().mkpath(EntryPath()));
    AddToRunList(QStringLiteral("Orvane"), QStringLiteral("/opt/orvane"), m_messages);
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text, kAddFailed);
    EXPECT_EQ(m_messages.shown[0].icon, MessageIcon::Stop);
}

TEST_F(AutostartTest, MissingProgramPathShowsTheAddFailure) {
    AddToRunList(QStringLiteral("Orvane"), QString(), m_messages);
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text, kAddFailed);
    EXPECT_FALSE(IsInRunList(QStringLiteral("Orvane")));
}

TEST_F(AutostartTest, RemovingAnEntryAlreadyDeletedShowsTheRemoveFailure) {
    QDir().mkpath(RunListDirectory());
    RemoveFromRunList(QStringLiteral("Orvane"), m_messages);
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text, kRemoveFailed);
    EXPECT_EQ(m_messages.shown[0].icon, MessageIcon::Stop);
}

}  // namespace
}  // namespace orvane
