// The installed-copy rule: where the user database and default log go for each kind of copy.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "TestEnvironment.h"
#include "config/DataDirectory.h"

namespace orvane {
namespace {

int Mode(const QString& path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) return -1;
    return static_cast<int>(status.st_mode & 07777);
}

TEST(DataDirectory, AProgramInAReadOnlyDirectoryKeepsItsDataInThePrivateUserDirectory) {
    const QString expected = qEnvironmentVariable("XDG_DATA_HOME") + "/Quorvex/Orvane";
    ASSERT_TRUE(expected.startsWith(test::IsolatedRoot()));
    QDir(qEnvironmentVariable("XDG_DATA_HOME")).removeRecursively();
    EXPECT_EQ(UserDataDirectory(), expected);

    const QString chosen =
        PrivateDataDirectory("/usr/libexec/orvane/orvane", [](const QString&) { return false; });
    EXPECT_EQ(chosen, expected);
    EXPECT_EQ(Mode(expected), 0700);
    EXPECT_EQ(Mode(QFileInfo(expected).path()), 0700);
    // An existing directory is taken as it is.
    ::chmod(QFile::encodeName(expected).constData(), 0750);
    EXPECT_EQ(PrivateDataDirectory("/opt/x/orvane", [](const QString&) { return false; }),
              expected);
    EXPECT_EQ(Mode(expected), 0750);
}

TEST(DataDirectory, AProgramInAWritableDirectoryKeepsEverythingBesideItself) {
    const QString program = test::MakeTempDir("prog") + "/orvane";
    QDir(qEnvironmentVariable("XDG_DATA_HOME")).removeRecursively();
    EXPECT_EQ(PrivateDataDirectory(program), QString());
    EXPECT_FALSE(QFileInfo::exists(UserDataDirectory()));

    // Without the privilege to write anywhere, a read-only directory is what it says.
    if (::geteuid() != 0) {
        const QString readOnly = test::MakeTempDir("ro");
        ::chmod(QFile::encodeName(readOnly).constData(), 0555);
        EXPECT_FALSE(IsWritableDirectory(readOnly));
        EXPECT_EQ(PrivateDataDirectory(readOnly + "/orvane"), UserDataDirectory());
        ::chmod(QFile::encodeName(readOnly).constData(), 0755);
    }
}

}  // namespace
}  // namespace orvane
