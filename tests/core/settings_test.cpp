// The settings store: defaults, the read-at-every-use rule and junk values.
#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>

#include "TestEnvironment.h"
#include "config/FileLocations.h"
#include "config/SettingsStore.h"

using namespace orvane;

namespace {

QString FreshIniPath() {
    return test::MakeTempDir(QStringLiteral("settings")) + QStringLiteral("/Orvane.conf");
}

}  // namespace

TEST(SettingsStore, EmptySectionAnswersEveryDefault) {
    SettingsStore store(FreshIniPath());
    FileLocations locations(QStringLiteral("/opt/orv/orvane"));
    EXPECT_EQ(store.Read(setting::PortNr), 23);
    EXPECT_EQ(store.Read(setting::EchoBack), 1);
    EXPECT_EQ(store.Read(setting::ReverseDNS), 1);
    EXPECT_EQ(store.Read(setting::EnableLog), 1);
    EXPECT_EQ(store.Read(setting::FailedLogins), 3);
    EXPECT_EQ(store.Read(setting::StartMinimize), 0);
    EXPECT_EQ(store.Read(setting::ConfirmExit), 1);
    EXPECT_EQ(store.Read(setting::RunAsService), 0);
    EXPECT_EQ(store.Read(setting::S1Enable), 1);
    EXPECT_EQ(store.Read(setting::S2Enable), 1);
    EXPECT_EQ(store.Read(setting::LoginOK), QStringLiteral("Login OK."));
    EXPECT_EQ(store.Read(setting::LoginFail), QStringLiteral("Login Failed."));
    EXPECT_EQ(store.Read(setting::LogFile, locations), QStringLiteral("/opt/orv/ORVANE.LOG"));
    EXPECT_EQ(store.Read(setting::S1FileName, locations), QStringLiteral("/opt/orv/LOGIN.WAV"));
    EXPECT_EQ(store.Read(setting::S2FileName, locations), QStringLiteral("/opt/orv/LOGOUT.WAV"));
    EXPECT_EQ(store.Read(setting::BrowseLogDir), QString());
    EXPECT_EQ(store.Read(setting::BrowseSndDir), QString());
    // Reading writes nothing: a fresh installation keeps an empty section.
    EXPECT_FALSE(QFile::exists(store.FilePath()));
}

TEST(SettingsStore, ValuesWrittenByAnotherProgramAreSeenAtTheNextRead) {
    const QString path = FreshIniPath();
    SettingsStore store(path);
    EXPECT_EQ(store.Read(setting::EchoBack), 1);

    {
        QSettings other(path, QSettings::IniFormat);
        other.setValue(QStringLiteral("Settings/EchoBack"), 0);
        other.setValue(QStringLiteral("Settings/LoginOK"), QStringLiteral("Welcome\r\naboard"));
    }
    EXPECT_EQ(store.Read(setting::EchoBack), 0);
    EXPECT_EQ(store.Read(setting::LoginOK), QStringLiteral("Welcome\r\naboard"));

    // An edit of the file by hand is seen as well.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[Settings]\nEchoBack=7\nPortNr=2323\n");
    file.close();
    EXPECT_EQ(store.Read(setting::EchoBack), 7);
    EXPECT_EQ(store.Read(setting::PortNr), 2323);
}

TEST(SettingsStore, IntegerKeysHoldingJunkReadAsTheDefault) {
    const QString path = FreshIniPath();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "[Settings]\nPortNr=80abc\nEchoBack=\nFailedLogins=-5\nConfirmExit=99999999999\n"
        "ReverseDNS= 2 \nS1Enable=yes\n");
    file.close();
    SettingsStore store(path);
    EXPECT_EQ(store.Read(setting::PortNr), 23);
    EXPECT_EQ(store.Read(setting::EchoBack), 1);
    EXPECT_EQ(store.Read(setting::FailedLogins), -5);
    EXPECT_EQ(store.Read(setting::ConfirmExit), 1);
    EXPECT_EQ(store.Read(setting::ReverseDNS), 2);
    EXPECT_EQ(store.Read(setting::S1Enable), 1);
}

TEST(SettingsStore, WrittenValuesRoundTripThroughTheFile) {
    const QString path = FreshIniPath();
    {
        SettingsStore store(path);
        store.Write(setting::PortNr, 2323);
        store.Write(setting::LoginFail, QStringLiteral("No.\r\nGo away, \"friend\"; 100%"));
        store.Write(setting::LogFile, QString());
    }
    SettingsStore again(path);
    FileLocations locations(QStringLiteral("/opt/orv/orvane"));
    EXPECT_EQ(again.Read(setting::PortNr), 2323);
    EXPECT_EQ(again.Read(setting::LoginFail), QStringLiteral("No.\r\nGo away, \"friend\"; 100%"));
    // A stored empty text is a value, not an absent one.
    EXPECT_EQ(again.Read(setting::LogFile, locations), QString());
}

TEST(SettingsStore, TheRealStoreLivesInTheUsersConfigDirectory) {
    SettingsStore store;
    EXPECT_EQ(store.FilePath(), QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) +
                                    QStringLiteral("/Quorvex/Orvane.conf"));
}

TEST(SettingsStore, TypedValuesInAHandEditedFileAreOnlyText) {
    // Other settings files may hold serialized objects; here every value is text, so such a
    // line can neither crash the program nor turn into anything but the option's default.
    const QString path = FreshIniPath();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "[Settings]\nS1Enable=@Variant(\\0\\0\\0\\tings_fuzz5)\n"
        "EchoBack=@Variant(\\0\\0\\0\\x7f\\xff\\xff\\xff\\xff)\nLoginOK=@ByteArray(xyz)\n"
        "LoginFail=\"a, b\"\n");
    file.close();
    SettingsStore store(path);
    EXPECT_EQ(store.Read(setting::S1Enable), 1);
    EXPECT_EQ(store.Read(setting::EchoBack), 1);
    EXPECT_EQ(store.Read(setting::LoginOK), QStringLiteral("@ByteArray(xyz)"));
    EXPECT_EQ(store.Read(setting::LoginFail), QStringLiteral("a, b"));
}

TEST(SettingsStore, AwkwardTextsSurviveTheFile) {
    const QString path = FreshIniPath();
    const QStringList texts = {
        QStringLiteral("@Variant(1)"),
        QStringLiteral("  two blanks around  "),
        QStringLiteral("\"quoted\""),
        QStringLiteral("semi;colon # hash"),
        QStringLiteral("tab\there\x01"),
        QStringLiteral("back\\slash\\"),
        QStringLiteral("Grüße, 世界"),
        QStringLiteral("line\r\nbreak\n"),
        QString(),
    };
    for (const QString& text : texts) {
        SettingsStore writer(path);
        writer.Write(setting::LoginOK, text);
        SettingsStore reader(path);
        EXPECT_EQ(reader.Read(setting::LoginOK), text) << text.toStdString();
    }
}
