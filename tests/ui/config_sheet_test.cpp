// The settings pages of the configuration sheet: what each stores, when, and what it shows.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTabWidget>
#include <QTest>

#include "SheetFixture.h"
#include "config/Autostart.h"
#include "config/DataDirectory.h"
#include "platform/TlsCertificate.h"
#include "ui/ConfigPages.h"
#include "ui/ControlIds.h"

namespace orvane {
namespace {

using test::SheetFixture;

class ConfigSheetTest : public SheetFixture {};

TEST_F(ConfigSheetTest, SheetHasItsSixPagesInOrder) {
    auto sheet = OpenSheet();
    EXPECT_EQ(sheet->windowTitle(), QStringLiteral("Server Configuration"));
    auto* tabs = sheet->findChild<QTabWidget*>();
    ASSERT_NE(tabs, nullptr);
    QStringList captions;
    for (int i = 0; i < tabs->count(); ++i) captions << tabs->tabText(i);
    EXPECT_EQ(captions, (QStringList{"About", "Server", "General", "Sounds", "Messages", "Users"}));
    EXPECT_EQ(tabs->currentIndex(), 0);
}

TEST_F(ConfigSheetTest, OkWithOnlyTheAboutPageShownWritesNoSetting) {
    auto sheet = OpenSheet();
    auto* version = Control<QLabel>(sheet->AboutPage(), control::about::kVersion);
    EXPECT_TRUE(version->text().startsWith(QStringLiteral("Orvane v1.5 running on Linux ")));
    EXPECT_TRUE(version->text().contains(QStringLiteral(" (Build ")));
    sheet->PressOK();
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_TRUE(StoredKeys().isEmpty()) << StoredKeys().join(' ').toStdString();
    EXPECT_TRUE(m_messages.shown.empty());
}

TEST_F(ConfigSheetTest, OkAfterShowingOnlyTheGeneralPageWritesOnlyItsSettings) {
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::General);
    sheet->PressOK();
    EXPECT_EQ(StoredKeys(), (QStringList{"Settings/ConfirmExit", "Settings/StartMinimize"}));
    EXPECT_FALSE(IsInRunList(QStringLiteral("Orvane")));
}

TEST_F(ConfigSheetTest, CancelStoresNothingFromAnyShownPage) {
    auto sheet = OpenSheet();
    for (int page = 0; page < CConfigSheet::PageCount; ++page) {
        sheet->ShowPage(static_cast<CConfigSheet::Page>(page));
    }
    Control<QCheckBox>(sheet->GeneralPage(), control::general::kRunAtStart)->setChecked(true);
    sheet->PressCancel();
    EXPECT_EQ(sheet->result(), QDialog::Rejected);
    EXPECT_TRUE(StoredKeys().isEmpty());
    EXPECT_FALSE(IsInRunList(QStringLiteral("Orvane")));
}

TEST_F(ConfigSheetTest, PageKeepsWhatWasTypedWhenTheOperatorComesBackToIt) {
    m_settings.Write(setting::PortNr, 2323);
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::Server);
    auto* port = Control<QLineEdit>(sheet->ServerPage(), control::server::kPort);
    EXPECT_EQ(port->text(), QStringLiteral("2323"));
    port->setText(QStringLiteral("4444"));
    sheet->ShowPage(CConfigSheet::General);
    sheet->ShowPage(CConfigSheet::Server);
    EXPECT_EQ(port->text(), QStringLiteral("4444"));
}

// ---- Server page ----

class ServerPageTest : public SheetFixture {
protected:
    // Opens the sheet on the Server page, lets the test change it, presses OK.
    template <typename Change>
    void ConfirmServerPage(Change change) {
        auto sheet = OpenSheet();
        sheet->ShowPage(CConfigSheet::Server);
        change(sheet->ServerPage());
        sheet->PressOK();
    }
};

TEST_F(ServerPageTest, OpensWithTheDefaults) {
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::Server);
    QWidget& page = sheet->ServerPage();
    EXPECT_TRUE(Control<QCheckBox>(page, control::server::kReverseDns)->isChecked());
    EXPECT_TRUE(Control<QCheckBox>(page, control::server::kEnableLog)->isChecked());
    EXPECT_TRUE(Control<QCheckBox>(page, control::server::kEchoBack)->isChecked());
    EXPECT_FALSE(Control<QCheckBox>(page, control::server::kTerminalMode)->isChecked());
    EXPECT_FALSE(Control<QCheckBox>(page, control::server::kCustomPort)->isChecked());
    EXPECT_FALSE(Control<QLineEdit>(page, control::server::kPort)->isEnabled());
    EXPECT_EQ(Control<QLineEdit>(page, control::server::kPort)->text(), QStringLiteral("23"));
    EXPECT_EQ(Control<QLineEdit>(page, control::server::kFailedLogins)->text(),
              QStringLiteral("3"));
    EXPECT_EQ(Control<QLineEdit>(page, control::server::kLogFile)->text(), m_app.DefaultLogFile());
}

TEST_F(ServerPageTest, DoorSettingsOpenWithTheirDefaultsAndOkStoresWhatWasTyped) {
    {
        auto sheet = OpenSheet();
        sheet->ShowPage(CConfigSheet::Server);
        QWidget& page = sheet->ServerPage();
        EXPECT_EQ(Control<QLineEdit>(page, control::server::kListenAddress)->text(), QString());
        EXPECT_EQ(Control<QLineEdit>(page, control::server::kLoginTimeout)->text(),
                  QStringLiteral("120"));
        EXPECT_EQ(Control<QLineEdit>(page, control::server::kIdleTimeout)->text(),
                  QStringLiteral("0"));
        EXPECT_TRUE(Control<QCheckBox>(page, control::server::kPenaltyEnable)->isChecked());
        EXPECT_EQ(Control<QLineEdit>(page, control::server::kLogMaxSize)->text(),
                  QStringLiteral("10240"));
    }
    ConfirmServerPage([](QWidget& page) {
        Control<QLineEdit>(page, control::server::kListenAddress)->setText(QStringLiteral(" ::1 "));
        Control<QLineEdit>(page, control::server::kLoginTimeout)->setText(QStringLiteral("30"));
        Control<QLineEdit>(page, control::server::kIdleTimeout)->setText(QStringLiteral("-4"));
        Control<QCheckBox>(page, control::server::kPenaltyEnable)->click();
        Control<QLineEdit>(page, control::server::kLogMaxSize)->setText(QStringLiteral("64kb"));
    });
    EXPECT_EQ(m_settings.Read(setting::ListenAddress), QStringLiteral("::1"));
    EXPECT_EQ(m_settings.Read(setting::LoginTimeout), 30);
    EXPECT_EQ(m_settings.Read(setting::IdleTimeout), 0);
    EXPECT_EQ(m_settings.Read(setting::PenaltyEnable), 0);
    EXPECT_EQ(m_settings.Read(setting::LogMaxSize), 64);
    // What was stored is what the page shows next time.
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::Server);
    EXPECT_EQ(Control<QLineEdit>(sheet->ServerPage(), control::server::kListenAddress)->text(),
              QStringLiteral("::1"));
    EXPECT_FALSE(
        Control<QCheckBox>(sheet->ServerPage(), control::server::kPenaltyEnable)->isChecked());
}

TEST_F(ServerPageTest, LogCheckBoxEnablesThePathAndItsChooser) {
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::Server);
    QWidget& page = sheet->ServerPage();
    Control<QCheckBox>(page, control::server::kEnableLog)->click();
    EXPECT_FALSE(Control<QLineEdit>(page, control::server::kLogFile)->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(page, control::server::kBrowseLog)->isEnabled());
    Control<QCheckBox>(page, control::server::kEnableLog)->click();
    EXPECT_TRUE(Control<QLineEdit>(page, control::server::kLogFile)->isEnabled());
    Control<QCheckBox>(page, control::server::kCustomPort)->click();
    EXPECT_TRUE(Control<QLineEdit>(page, control::server::kPort)->isEnabled());
}

TEST_F(ServerPageTest, UncheckedCustomPortStores23WhateverTheField) {
    m_settings.Write(setting::PortNr, 8023);
    ConfirmServerPage([](QWidget& page) {
        Control<QCheckBox>(page, control::server::kCustomPort)->click();
        Control<QLineEdit>(page, control::server::kPort)->setText(QStringLiteral("9999"));
    });
    EXPECT_EQ(m_settings.Read(setting::PortNr), 23);
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].icon, MessageIcon::Information);
}

TEST_F(ServerPageTest, PortTypedWithTrailingLettersStoresItsNumberAndWarnsOfTheRestart) {
    ConfirmServerPage([](QWidget& page) {
        Control<QCheckBox>(page, control::server::kCustomPort)->click();
        Control<QLineEdit>(page, control::server::kPort)->setText(QStringLiteral("80abc"));
    });
    EXPECT_EQ(m_settings.Read(setting::PortNr), 80);
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text,
              QStringLiteral("Changes to the port number will take effect the next time the "
                             "server is restarted."));
    EXPECT_EQ(m_messages.shown[0].icon, MessageIcon::Information);
}

TEST_F(ServerPageTest, UnchangedPortSaysNothingAndOpensUncheckedNextTime) {
    ConfirmServerPage([](QWidget& page) {
        Control<QCheckBox>(page, control::server::kCustomPort)->click();
        Control<QLineEdit>(page, control::server::kPort)->setText(QStringLiteral("23"));
    });
    EXPECT_EQ(m_settings.Read(setting::PortNr), 23);
    EXPECT_TRUE(m_messages.shown.empty());
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::Server);
    EXPECT_FALSE(
        Control<QCheckBox>(sheet->ServerPage(), control::server::kCustomPort)->isChecked());
}

TEST_F(ServerPageTest, EmptyPortFieldStoresZero) {
    ConfirmServerPage([](QWidget& page) {
        Control<QCheckBox>(page, control::server::kCustomPort)->click();
        Control<QLineEdit>(page, control::server::kPort)->clear();
    });
    EXPECT_EQ(m_settings.Read(setting::PortNr), 0);
}

TEST_F(ServerPageTest, NegativeOrNonNumericLoginAttemptsStoreZero) {
    for (const char* typed : {"-5", "abc"}) {
        m_settings.Write(setting::FailedLogins, 3);
        ConfirmServerPage([typed](QWidget& page) {
            Control<QLineEdit>(page, control::server::kFailedLogins)->setText(QLatin1String(typed));
        });
        EXPECT_EQ(m_settings.Read(setting::FailedLogins), 0) << typed;
    }
    ConfirmServerPage([](QWidget& page) {
        Control<QLineEdit>(page, control::server::kFailedLogins)->setText(QStringLiteral(" 7x"));
    });
    EXPECT_EQ(m_settings.Read(setting::FailedLogins), 7);
}

TEST_F(ServerPageTest, OkStoresTheSwitchesAndTheLogPathEvenWhenLoggingIsOff) {
    ConfirmServerPage([](QWidget& page) {
        Control<QCheckBox>(page, control::server::kReverseDns)->click();
        Control<QCheckBox>(page, control::server::kEchoBack)->click();
        Control<QLineEdit>(page, control::server::kLogFile)
            ->setText(QStringLiteral("/var/tmp/x.log"));
        Control<QCheckBox>(page, control::server::kEnableLog)->click();
    });
    EXPECT_EQ(m_settings.Read(setting::ReverseDNS), 0);
    EXPECT_EQ(m_settings.Read(setting::EchoBack), 0);
    EXPECT_EQ(m_settings.Read(setting::EnableLog), 0);
    EXPECT_EQ(m_settings.Read(setting::LogFile, m_app.Locations()),
              QStringLiteral("/var/tmp/x.log"));
}

TEST_F(ServerPageTest, TerminalModeIsStoredAsOneOrZeroAndOpensAsStored) {
    m_settings.Write(setting::TerminalMode, 7);  // any non-zero value counts as on
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::Server);
    auto* box = Control<QCheckBox>(sheet->ServerPage(), control::server::kTerminalMode);
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(box->text(), QStringLiteral("Terminal mode: character-at-a-time input and a "
                                          "pseudo-terminal for dos"));
    sheet->PressOK();
    EXPECT_EQ(m_settings.Read(setting::TerminalMode), 1);

    ConfirmServerPage(
        [](QWidget& page) { Control<QCheckBox>(page, control::server::kTerminalMode)->click(); });
    EXPECT_EQ(m_settings.Read(setting::TerminalMode), 0);
}

TEST_F(ServerPageTest, EncryptedPortControlsStoreTheirSettingsAndShowTheFingerprintToCopy) {
    {
        auto sheet = OpenSheet();
        sheet->ShowPage(CConfigSheet::Server);
        QWidget& page = sheet->ServerPage();
        EXPECT_FALSE(Control<QCheckBox>(page, control::server::kTlsEnable)->isChecked());
        EXPECT_EQ(Control<QLineEdit>(page, control::server::kTlsPort)->text(),
                  QStringLiteral("992"));
        EXPECT_FALSE(Control<QLineEdit>(page, control::server::kTlsPort)->isEnabled());
        EXPECT_FALSE(Control<QCheckBox>(page, control::server::kTlsOnly)->isEnabled());
        EXPECT_TRUE(Control<QLabel>(page, control::server::kTlsFingerprint)
                        ->text()
                        .startsWith(QStringLiteral("(none yet")));
    }

    // Once the pair exists, the page shows the fingerprint users will see, selectable.
    QString reason;
    const auto pair =
        ProvideSelfSignedPair(UserDataDirectory(), QStringLiteral("host"), {}, &reason);
    ASSERT_TRUE(pair) << reason.toStdString();
    ConfirmServerPage([&](QWidget& page) {
        auto* label = Control<QLabel>(page, control::server::kTlsFingerprint);
        EXPECT_EQ(label->text(), CertificateFileFingerprint(pair->certificateFile, &reason));
        EXPECT_TRUE(label->textInteractionFlags() & Qt::TextSelectableByMouse);
        Control<QCheckBox>(page, control::server::kTlsEnable)->click();
        EXPECT_TRUE(Control<QLineEdit>(page, control::server::kTlsPort)->isEnabled());
        Control<QLineEdit>(page, control::server::kTlsPort)->setText(QStringLiteral("9920"));
        Control<QCheckBox>(page, control::server::kTlsOnly)->click();
        Control<QLineEdit>(page, control::server::kTlsCertFile)
            ->setText(QStringLiteral(" /etc/orvane/cert.pem "));
        Control<QLineEdit>(page, control::server::kTlsKeyFile)
            ->setText(QStringLiteral("/etc/orvane/key.pem"));
    });
    EXPECT_EQ(m_settings.Read(setting::TlsEnable), 1);
    EXPECT_EQ(m_settings.Read(setting::TlsPortNr), 9920);
    EXPECT_EQ(m_settings.Read(setting::TlsOnly), 1);
    EXPECT_EQ(m_settings.Read(setting::TlsCertFile), QStringLiteral("/etc/orvane/cert.pem"));
    EXPECT_EQ(m_settings.Read(setting::TlsKeyFile), QStringLiteral("/etc/orvane/key.pem"));
    // Read at the next start, like the plain port: the operator is told so.
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].icon, MessageIcon::Information);

    // A configured certificate that cannot be read shows why instead of a fingerprint.
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::Server);
    EXPECT_TRUE(Control<QLabel>(sheet->ServerPage(), control::server::kTlsFingerprint)
                    ->text()
                    .startsWith(QStringLiteral("cannot read the certificate file /etc/orvane/")));
}

TEST_F(ServerPageTest, ChosenLogFolderIsRememberedEvenWhenTheSheetIsCancelled) {
    m_settings.Write(setting::BrowseLogDir, QStringLiteral("/srv/logs"));
    m_chooser.answers = {QStringLiteral("/srv/other/new.LOG")};
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::Server);
    Control<QPushButton>(sheet->ServerPage(), control::server::kBrowseLog)->click();

    ASSERT_EQ(m_chooser.requests.size(), 1u);
    const FileChooserRequest& request = m_chooser.requests[0];
    EXPECT_EQ(request.title, QStringLiteral("Select Log File Name"));
    EXPECT_EQ(request.filters, QStringLiteral("Log Files (*.log);;All Files (*.*)"));
    EXPECT_EQ(request.defaultExtension, QStringLiteral("LOG"));
    EXPECT_EQ(request.initialFolder, QStringLiteral("/srv/logs"));
    EXPECT_FALSE(request.fileMustExist);
    EXPECT_EQ(Control<QLineEdit>(sheet->ServerPage(), control::server::kLogFile)->text(),
              QStringLiteral("/srv/other/new.LOG"));

    sheet->PressCancel();
    EXPECT_EQ(m_settings.Read(setting::BrowseLogDir), QStringLiteral("/srv/other"));
    EXPECT_FALSE(IsStored("LogFile"));
}

TEST_F(ServerPageTest, ChooserClosedWithoutAFileChangesNothing) {
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::Server);
    auto* path = Control<QLineEdit>(sheet->ServerPage(), control::server::kLogFile);
    const QString before = path->text();
    Control<QPushButton>(sheet->ServerPage(), control::server::kBrowseLog)->click();
    EXPECT_EQ(path->text(), before);
    EXPECT_TRUE(StoredKeys().isEmpty());
}

// ---- General page ----

class GeneralPageTest : public SheetFixture {};

TEST_F(GeneralPageTest, ServiceBoxRefusesWithAMessageAndUnchecksItself) {
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::General);
    auto* service = Control<QCheckBox>(sheet->GeneralPage(), control::general::kRunAsService);
    EXPECT_TRUE(service->isEnabled());  // Linux counts as the NT family
    service->click();
    EXPECT_FALSE(service->isChecked());
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("Sorry, feature not implemented yet."));
    EXPECT_EQ(m_messages.shown[0].icon, MessageIcon::Stop);
}

TEST_F(GeneralPageTest, StoredServiceValueIsShownButNeverWritten) {
    m_settings.Write(setting::RunAsService, 1);
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::General);
    auto* service = Control<QCheckBox>(sheet->GeneralPage(), control::general::kRunAsService);
    EXPECT_TRUE(service->isChecked());
    service->click();  // unchecking says nothing
    EXPECT_TRUE(m_messages.shown.empty());
    sheet->PressOK();
    EXPECT_EQ(m_settings.Read(setting::RunAsService), 1);
}

TEST_F(GeneralPageTest, OkStoresTheStartAndExitSwitches) {
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::General);
    EXPECT_FALSE(
        Control<QCheckBox>(sheet->GeneralPage(), control::general::kStartMinimized)->isChecked());
    EXPECT_TRUE(
        Control<QCheckBox>(sheet->GeneralPage(), control::general::kConfirmExit)->isChecked());
    Control<QCheckBox>(sheet->GeneralPage(), control::general::kStartMinimized)->click();
    Control<QCheckBox>(sheet->GeneralPage(), control::general::kConfirmExit)->click();
    sheet->PressOK();
    EXPECT_EQ(m_settings.Read(setting::StartMinimize), 1);
    EXPECT_EQ(m_settings.Read(setting::ConfirmExit), 0);
}

TEST_F(GeneralPageTest, ExitConfirmationStoredAsTwoShowsUncheckedLikeItsReaderTreatsIt) {
    m_settings.Write(setting::ConfirmExit, 2);
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::General);
    EXPECT_FALSE(
        Control<QCheckBox>(sheet->GeneralPage(), control::general::kConfirmExit)->isChecked());
}

TEST_F(GeneralPageTest, StartWithTheDesktopAddsAndRemovesTheAutostartEntry) {
    {
        auto sheet = OpenSheet();
        sheet->ShowPage(CConfigSheet::General);
        auto* box = Control<QCheckBox>(sheet->GeneralPage(), control::general::kRunAtStart);
        EXPECT_EQ(box->text(), QStringLiteral("Start when Windows starts"));
        EXPECT_FALSE(box->isChecked());
        box->click();
        sheet->PressOK();
    }
    ASSERT_TRUE(IsInRunList(QStringLiteral("Orvane")));
    QFile entry(RunListEntryPath(QStringLiteral("Orvane")));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().contains(("Exec=" + m_app.Locations().ProgramPath()).toUtf8()));
    entry.close();

    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::General);
    auto* box = Control<QCheckBox>(sheet->GeneralPage(), control::general::kRunAtStart);
    EXPECT_TRUE(box->isChecked());
    box->click();
    sheet->PressOK();
    EXPECT_FALSE(IsInRunList(QStringLiteral("Orvane")));
    EXPECT_TRUE(m_messages.shown.empty());
}

TEST_F(GeneralPageTest, EntryThatStaysCheckedIsNotRewritten) {
    QDir().mkpath(RunListDirectory());
    QFile entry(RunListEntryPath(QStringLiteral("Orvane")));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nExec=/old/install/orvane\n");
    entry.close();
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::General);
    sheet->PressOK();
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_EQ(entry.readAll(), QByteArray("[Desktop Entry]\nExec=/old/install/orvane\n"));
}

TEST_F(GeneralPageTest, EntryDeletedMeanwhileReportsTheFailedRemoval) {
    AddToRunList(QStringLiteral("Orvane"), QStringLiteral("/opt/orvane"), m_messages);
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::General);
    Control<QCheckBox>(sheet->GeneralPage(), control::general::kRunAtStart)->click();
    QFile::remove(RunListEntryPath(QStringLiteral("Orvane")));
    sheet->PressOK();
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text,
              QStringLiteral("Failed to remove self from RUN list in registry."));
}

TEST_F(GeneralPageTest, EntryThatCannotBeWrittenReportsTheFailedAddition) {
    QDir().mkpath(RunListEntryPath(QStringLiteral("Orvane")));  // a directory in its place
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::General);
    auto* box = Control<QCheckBox>(sheet->GeneralPage(), control::general::kRunAtStart);
    EXPECT_FALSE(box->isChecked());
    box->click();
    sheet->PressOK();
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text,
              QStringLiteral("Failed to add self to RUN list in registry."));
    EXPECT_EQ(m_messages.shown[0].icon, MessageIcon::Stop);
}

TEST_F(GeneralPageTest, UnusableAutostartDirectoryIsSilentAndTheBoxOpensUncheckedAgain) {
    QFile blocker(RunListDirectory());  // a regular file where the directory belongs
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    {
        auto sheet = OpenSheet();
        sheet->ShowPage(CConfigSheet::General);
        Control<QCheckBox>(sheet->GeneralPage(), control::general::kRunAtStart)->click();
        sheet->PressOK();
    }
    EXPECT_TRUE(m_messages.shown.empty());
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::General);
    EXPECT_FALSE(
        Control<QCheckBox>(sheet->GeneralPage(), control::general::kRunAtStart)->isChecked());
}

// ---- Sounds page ----

class SoundsPageTest : public SheetFixture {};

TEST_F(SoundsPageTest, TestPlaysWhatTheFieldHoldsNotWhatIsStored) {
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::Sounds);
    QWidget& page = sheet->SoundsPage();
    EXPECT_EQ(Control<QLineEdit>(page, control::sounds::kLoginFile)->text(),
              m_app.LoginSoundFile());
    Control<QLineEdit>(page, control::sounds::kLoginFile)
        ->setText(QStringLiteral("/tmp/typed-in.wav"));
    Control<QPushButton>(page, control::sounds::kLoginTest)->click();
    Control<QPushButton>(page, control::sounds::kLogoutTest)->click();
    ASSERT_EQ(m_sound.played.size(), 2u);
    EXPECT_EQ(m_sound.played[0], QStringLiteral("/tmp/typed-in.wav"));
    EXPECT_EQ(m_sound.played[1], m_app.LogoutSoundFile());
    EXPECT_FALSE(IsStored("S1FileName"));
}

TEST_F(SoundsPageTest, SwitchingASoundOffDisablesItsRow) {
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::Sounds);
    QWidget& page = sheet->SoundsPage();
    Control<QCheckBox>(page, control::sounds::kLogoutEnable)->click();
    EXPECT_FALSE(Control<QLineEdit>(page, control::sounds::kLogoutFile)->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(page, control::sounds::kLogoutTest)->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(page, control::sounds::kLogoutBrowse)->isEnabled());
    EXPECT_TRUE(Control<QPushButton>(page, control::sounds::kLoginBrowse)->isEnabled());
}

TEST_F(SoundsPageTest, BrowseFillsTheFieldRemembersTheFolderAndOkStoresBothSounds) {
    m_chooser.answers = {QStringLiteral("/snd/in/hello.wav"), QStringLiteral("/snd/out/bye.wav")};
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::Sounds);
    QWidget& page = sheet->SoundsPage();
    Control<QPushButton>(page, control::sounds::kLoginBrowse)->click();
    EXPECT_EQ(m_settings.Read(setting::BrowseSndDir), QStringLiteral("/snd/in"));
    Control<QPushButton>(page, control::sounds::kLogoutBrowse)->click();
    ASSERT_EQ(m_chooser.requests.size(), 2u);
    EXPECT_EQ(m_chooser.requests[0].title, QStringLiteral("Select Sound"));
    EXPECT_EQ(m_chooser.requests[0].filters, QStringLiteral("Wave Files (*.wav)"));
    EXPECT_EQ(m_chooser.requests[0].defaultExtension, QStringLiteral("WAV"));
    EXPECT_TRUE(m_chooser.requests[0].fileMustExist);
    EXPECT_EQ(m_chooser.requests[1].initialFolder, QStringLiteral("/snd/in"));

    Control<QCheckBox>(page, control::sounds::kLoginEnable)->click();
    sheet->PressOK();
    EXPECT_EQ(m_settings.Read(setting::S1FileName, m_app.Locations()),
              QStringLiteral("/snd/in/hello.wav"));
    EXPECT_EQ(m_settings.Read(setting::S2FileName, m_app.Locations()),
              QStringLiteral("/snd/out/bye.wav"));
    EXPECT_EQ(m_settings.Read(setting::S1Enable), 0);
    EXPECT_EQ(m_settings.Read(setting::S2Enable), 1);
    EXPECT_EQ(m_settings.Read(setting::BrowseSndDir), QStringLiteral("/snd/out"));
}

// ---- Messages page ----

class MessagesPageTest : public SheetFixture {};

TEST_F(MessagesPageTest, TextsTypedOnSeveralLinesAreStoredWithTheirLineBreaks) {
    auto sheet = OpenSheet();
    sheet->ShowPage(CConfigSheet::Messages);
    auto* loginOk = Control<QPlainTextEdit>(sheet->MessagesPage(), control::messages::kLoginOk);
    auto* loginFail = Control<QPlainTextEdit>(sheet->MessagesPage(), control::messages::kLoginFail);
    EXPECT_EQ(loginOk->toPlainText(), QStringLiteral("Login OK."));
    EXPECT_EQ(loginFail->toPlainText(), QStringLiteral("Login Failed."));
    EXPECT_EQ(loginOk->lineWrapMode(), QPlainTextEdit::NoWrap);

    loginOk->clear();
    QTest::keyClicks(loginOk, QStringLiteral("Welcome"));
    QTest::keyClick(loginOk, Qt::Key_Return);
    QTest::keyClicks(loginOk, QStringLiteral("back"));
    loginFail->clear();
    sheet->PressOK();
    EXPECT_EQ(m_settings.Read(setting::LoginOK), QStringLiteral("Welcome\r\nback"));
    EXPECT_TRUE(IsStored("LoginFail"));
    EXPECT_EQ(m_settings.Read(setting::LoginFail), QString());

    auto again = OpenSheet();
    again->ShowPage(CConfigSheet::Messages);
    EXPECT_EQ(
        Control<QPlainTextEdit>(again->MessagesPage(), control::messages::kLoginOk)->toPlainText(),
        QStringLiteral("Welcome\nback"));
}

}  // namespace
}  // namespace orvane
