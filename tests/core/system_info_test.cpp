// The About page's version line and the build number derived from the kernel version.
#include <gtest/gtest.h>

#include "platform/SystemInfo.h"

namespace orvane {
namespace {

TEST(VersionLine, LinuxHostIsNamedByUnameWithItsKernelBuild) {
    PlatformVersion linux{kPlatformNT, BuildNumberFromRelease(QStringLiteral("6.1.0-28-amd64")),
                          QStringLiteral("Linux 6.1.0-28-amd64")};
    EXPECT_EQ(FormatVersionLine(linux),
              QStringLiteral("Orvane v1.5 running on Linux 6.1.0-28-amd64 (Build 60100)"));
}

TEST(VersionLine, BuildNumberComesFromMajorMinorAndPatch) {
    EXPECT_EQ(BuildNumberFromRelease(QStringLiteral("5.10.209-1")), 51209);
    EXPECT_EQ(BuildNumberFromRelease(QStringLiteral("6.8")), 60800);
    EXPECT_EQ(BuildNumberFromRelease(QStringLiteral("4.19.0")), 41900);
    EXPECT_EQ(BuildNumberFromRelease(QStringLiteral("weird")), 0);
    EXPECT_EQ(BuildNumberFromRelease(QStringLiteral("99999999999.1.1")), 99990101);
}

TEST(VersionLine, NtHostWithoutANameShowsWindowsNtAndTheWholeBuild) {
    EXPECT_EQ(FormatVersionLine({kPlatformNT, 0x10000 + 1381, QString()}),
              QStringLiteral("Orvane v1.5 running on Windows NT (Build 66917)"));
}

TEST(VersionLine, OtherFamilyIsNamedByTheLow16BitsOfItsBuild) {
    const auto line = [](int build) { return FormatVersionLine({1, build, QString()}); };
    EXPECT_EQ(line(0x040A0000 + 1998),
              QStringLiteral("Orvane v1.5 running on Windows 98 (Build 1998)"));
    EXPECT_EQ(line(1601), QStringLiteral("Orvane v1.5 running on Windows 98 (Build 1601)"));
    EXPECT_EQ(line(1600), QStringLiteral("Orvane v1.5 running on Windows 95/OSR2 (Build 1600)"));
    EXPECT_EQ(line(1001), QStringLiteral("Orvane v1.5 running on Windows 95/OSR2 (Build 1001)"));
    EXPECT_EQ(line(1000), QStringLiteral("Orvane v1.5 running on Windows 95 (Build 1000)"));
}

TEST(VersionLine, RunningSystemReportsTheNtFamilyAndAName) {
    const PlatformVersion version = QueryPlatformVersion();
    EXPECT_EQ(version.platformId, kPlatformNT);
    EXPECT_FALSE(version.systemName.isEmpty());
    EXPECT_GT(version.buildNumber, 0);
}

}  // namespace
}  // namespace orvane
