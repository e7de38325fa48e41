// File locations derived from the program path.
#include <gtest/gtest.h>

#include "TestEnvironment.h"
#include "config/FileLocations.h"
#include "config/SettingsStore.h"

using namespace orvane;

TEST(FileLocations, ProgramWithoutExtensionKeepsItsDirectoryCase) {
    FileLocations at(QStringLiteral("/opt/Orv/orvane"));
    EXPECT_EQ(at.HelpFilePath(), QStringLiteral("/opt/Orv/orvane.HLP"));
    EXPECT_EQ(at.DataFilePath(), QStringLiteral("/opt/Orv/ORVANE.DAT"));
    EXPECT_EQ(at.DefaultLogFile(), QStringLiteral("/opt/Orv/ORVANE.LOG"));
    EXPECT_EQ(at.DefaultLoginSound(), QStringLiteral("/opt/Orv/LOGIN.WAV"));
    EXPECT_EQ(at.DefaultLogoutSound(), QStringLiteral("/opt/Orv/LOGOUT.WAV"));
}

TEST(FileLocations, ProgramExtensionIsReplaced) {
    FileLocations at(QStringLiteral("/home/me/tools.v2/Orvane.bin"));
    EXPECT_EQ(at.HelpFilePath(), QStringLiteral("/home/me/tools.v2/Orvane.HLP"));
    EXPECT_EQ(at.DataFilePath(), QStringLiteral("/home/me/tools.v2/ORVANE.DAT"));
    EXPECT_EQ(at.DefaultLogFile(), QStringLiteral("/home/me/tools.v2/ORVANE.LOG"));
}

TEST(FileLocations, DirectoryEndingInHlpFollowsFirstAndEveryOccurrenceRules) {
    FileLocations at(QStringLiteral("/x/A.HLP/orvane"));
    // The data file is cut at the first ".HLP"; the log file replaces every one.
    EXPECT_EQ(at.DataFilePath(), QStringLiteral("/x/A.DAT"));
    EXPECT_EQ(at.DefaultLogFile(), QStringLiteral("/x/A.LOG/ORVANE.LOG"));
    EXPECT_EQ(at.DefaultLoginSound(), QStringLiteral("/x/A.HLP/LOGIN.WAV"));
    // A lower-case directory name is not touched: names are case-sensitive here.
    FileLocations lower(QStringLiteral("/x/a.hlp/orvane"));
    EXPECT_EQ(lower.DataFilePath(), QStringLiteral("/x/a.hlp/ORVANE.DAT"));
}

TEST(FileLocations, VeryLongProgramPathsAreKeptWhole) {
    const QString dir = QStringLiteral("/") + QString(400, QLatin1Char('d'));
    FileLocations at(dir + QStringLiteral("/orvane"));
    EXPECT_EQ(at.DataFilePath(), dir + QStringLiteral("/ORVANE.DAT"));
    EXPECT_EQ(at.DefaultLoginSound(), dir + QStringLiteral("/LOGIN.WAV"));
}

TEST(FileLocations, SoundSettingsAreReturnedUnchanged) {
    SettingsStore store(test::MakeTempDir() + QStringLiteral("/s.conf"));
    FileLocations at(QStringLiteral("/opt/orv/orvane"));
    EXPECT_EQ(store.Read(setting::S1FileName, at), QStringLiteral("/opt/orv/LOGIN.WAV"));
    store.Write(setting::S1FileName, QStringLiteral("/media/Sounds/hello.wav"));
    store.Write(setting::S2FileName, QStringLiteral("relative/bye.WAV"));
    EXPECT_EQ(store.Read(setting::S1FileName, at), QStringLiteral("/media/Sounds/hello.wav"));
    EXPECT_EQ(store.Read(setting::S2FileName, at), QStringLiteral("relative/bye.WAV"));
}

TEST(FileLocations, AnInstalledCopyKeepsDatabaseAndLogInTheUsersDirectoryAndSoundsBesideItself) {
    const FileLocations at(QStringLiteral("/usr/libexec/orvane/orvane"),
                           QStringLiteral("/home/u/.local/share/Quorvex/Orvane"));
    EXPECT_EQ(at.DataFilePath(), QStringLiteral("/home/u/.local/share/Quorvex/Orvane/ORVANE.DAT"));
    EXPECT_EQ(at.DefaultLogFile(),
              QStringLiteral("/home/u/.local/share/Quorvex/Orvane/ORVANE.LOG"));
    EXPECT_EQ(at.DefaultLoginSound(), QStringLiteral("/usr/libexec/orvane/LOGIN.WAV"));
    EXPECT_EQ(at.DefaultLogoutSound(), QStringLiteral("/usr/libexec/orvane/LOGOUT.WAV"));
    EXPECT_EQ(at.HelpFilePath(), QStringLiteral("/usr/libexec/orvane/orvane.HLP"));
}

TEST(FileLocations, ACopyInAWritableDirectoryKeepsEverythingBesideItself) {
    const QString dir = test::MakeTempDir(QStringLiteral("copy"));
    const FileLocations at = FileLocations::ForProgram(dir + QStringLiteral("/orvane"));
    EXPECT_TRUE(at.PrivateDataDirectory().isEmpty());
    EXPECT_EQ(at.DataFilePath(), dir + QStringLiteral("/ORVANE.DAT"));
    EXPECT_EQ(at.DefaultLogFile(), dir + QStringLiteral("/ORVANE.LOG"));
}
