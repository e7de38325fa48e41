// The settings pages: each loads from the settings store when first shown and stores on OK.
#include "ui/ConfigPages.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "app/OperatorTexts.h"
#include "app/OrvaneApp.h"
#include "config/Autostart.h"
#include "config/DataDirectory.h"
#include "config/FileLocations.h"
#include "config/PageFields.h"
#include "config/SettingsStore.h"
#include "platform/FileChooser.h"
#include "platform/MessageBox.h"
#include "platform/SoundPlayer.h"
#include "platform/SystemInfo.h"
#include "platform/TlsCertificate.h"
#include "ui/ControlIds.h"
#include "ui/PageControls.h"

namespace orvane {

namespace {

// The value name of the autostart entry: the settings' application key.
const QString kRunListName = QStringLiteral("Orvane");

// A path shows from its start, as the operator reads it.
void SetPathText(QLineEdit* edit, const QString& path) {
    edit->setText(path);
    edit->setCursorPosition(0);
}

// Any stored value other than 0 shows as checked; the pages themselves store only 0 and 1.
void CheckFrom(QCheckBox* box, int value) {
    box->setChecked(value != 0);
}
// For the two options whose readers want exactly 1, the box shows what the reader will do.
void CheckFromExactlyOne(QCheckBox* box, int value) {
    box->setChecked(value == 1);
}
int CheckedValue(const QCheckBox* box) {
    return box->isChecked() ? 1 : 0;
}

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets, int indent = 0) {
    auto* row = new QHBoxLayout;
    if (indent > 0) row->addSpacing(indent);
    for (QWidget* widget : widgets) row->addWidget(widget);
    return row;
}

}  // namespace

CConfigPage::CConfigPage(const QString& caption, SheetServices services)
    : m_services(services), m_caption(caption) {}

void CConfigPage::EnsureCreated() {
    if (m_bCreated) return;
    m_bCreated = true;
    OnInitDialog();
}

SettingsStore& CConfigPage::Settings() {
    return m_services.app.Settings();
}

// ---- About ----

CPageAbout::CPageAbout(SheetServices services)
    : CConfigPage(QStringLiteral("About"), services), m_version(new QLabel(this)) {
    m_version->setObjectName(QLatin1String(control::about::kVersion));
    m_version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* icon = new QLabel(this);
    QIcon programIcon = QApplication::windowIcon();
    if (programIcon.isNull()) programIcon = style()->standardIcon(QStyle::SP_ComputerIcon);
    icon->setPixmap(programIcon.pixmap(32, 32));
    auto* layout = new QVBoxLayout(this);
    auto* row = Row({icon, m_version});
    row->addStretch();
    layout->addLayout(row);
    layout->addStretch();
}

void CPageAbout::OnInitDialog() {
    m_version->setText(FormatVersionLine(QueryPlatformVersion()));
}

// ---- Server ----

CPageServer::CPageServer(SheetServices services)
    : CConfigPage(QStringLiteral("Server"), services),
      m_reverseDns(MakeCheckBox(QStringLiteral("Perform reverse DNS lookup on clients"),
                                control::server::kReverseDns, this)),
      m_echoBack(MakeCheckBox(QStringLiteral("Echo characters back to client"),
                              control::server::kEchoBack, this)),
      m_terminalMode(MakeCheckBox(QStringLiteral("Terminal mode: character-at-a-time input and a "
                                                 "pseudo-terminal for dos"),
                                  control::server::kTerminalMode, this)),
      m_customPort(MakeCheckBox(QStringLiteral("Listen for connections on custom port :"),
                                control::server::kCustomPort, this)),
      m_port(MakeLineEdit(control::server::kPort, this)),
      m_enableLog(MakeCheckBox(QStringLiteral("Log activities to file"),
                               control::server::kEnableLog, this)),
      m_logFile(MakeLineEdit(control::server::kLogFile, this)),
      m_browseLog(MakeButton(QStringLiteral("..."), control::server::kBrowseLog, this)),
      m_failedLogins(MakeLineEdit(control::server::kFailedLogins, this)),
      m_listenAddress(MakeLineEdit(control::server::kListenAddress, this)),
      m_loginTimeout(MakeLineEdit(control::server::kLoginTimeout, this)),
      m_idleTimeout(MakeLineEdit(control::server::kIdleTimeout, this)),
      m_penaltyEnable(
          MakeCheckBox(QStringLiteral("Shut out addresses after failed logins for a while"),
                       control::server::kPenaltyEnable, this)),
      m_logMaxSize(MakeLineEdit(control::server::kLogMaxSize, this)),
      m_tlsEnable(MakeCheckBox(QStringLiteral("Accept encrypted (TLS) connections on port :"),
                               control::server::kTlsEnable, this)),
      m_tlsPort(MakeLineEdit(control::server::kTlsPort, this)),
      m_tlsOnly(
          MakeCheckBox(QStringLiteral("Encrypted connections only (the plain port stays closed)"),
                       control::server::kTlsOnly, this)),
      m_tlsCertFile(MakeLineEdit(control::server::kTlsCertFile, this)),
      m_tlsKeyFile(MakeLineEdit(control::server::kTlsKeyFile, this)),
      m_tlsFingerprint(new QLabel(this)) {
    m_port->setFixedWidth(m_port->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 12);
    for (QLineEdit* number : {m_failedLogins, m_loginTimeout, m_idleTimeout}) {
        number->setFixedWidth(number->fontMetrics().horizontalAdvance(QStringLiteral("00000")) +
                              12);
    }
    m_logMaxSize->setFixedWidth(
        m_logMaxSize->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 12);
    m_listenAddress->setPlaceholderText(QStringLiteral("every IPv4 address"));
    m_listenAddress->setMinimumWidth(m_listenAddress->fontMetrics().averageCharWidth() * 28);
    m_tlsPort->setFixedWidth(m_port->maximumWidth());
    m_tlsCertFile->setPlaceholderText(QStringLiteral("generated"));
    m_tlsKeyFile->setPlaceholderText(QStringLiteral("generated"));
    // Selectable, so the operator can copy it into a message to the users.
    m_tlsFingerprint->setObjectName(QLatin1String(control::server::kTlsFingerprint));
    m_tlsFingerprint->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                              Qt::TextSelectableByKeyboard);
    m_tlsFingerprint->setWordWrap(true);
    m_browseLog->setFixedWidth(m_browseLog->fontMetrics().horizontalAdvance(QStringLiteral("...")) +
                               20);
    m_logFile->setMinimumWidth(m_logFile->fontMetrics().averageCharWidth() * 40);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_reverseDns);
    layout->addWidget(m_echoBack);
    layout->addWidget(m_terminalMode);
    auto* portRow = Row({m_customPort, m_port});
    portRow->addStretch();
    layout->addLayout(portRow);
    layout->addWidget(m_enableLog);
    layout->addLayout(Row({m_logFile, m_browseLog}, 20));
    auto* attemptsRow = Row({new QLabel(QStringLiteral("Allow"), this), m_failedLogins,
                             new QLabel(QStringLiteral("login attempts in one session"), this)});
    attemptsRow->addStretch();
    layout->addLayout(attemptsRow);
    // Keeping the door: where to listen, how long a login and a silence may last, and
    // how far the log may grow.
    auto* addressRow =
        Row({new QLabel(QStringLiteral("Listen on address :"), this), m_listenAddress});
    addressRow->addStretch();
    layout->addLayout(addressRow);
    auto* loginRow = Row({new QLabel(QStringLiteral("End a login not done within"), this),
                          m_loginTimeout, new QLabel(QStringLiteral("seconds (0 = never)"), this)});
    loginRow->addStretch();
    layout->addLayout(loginRow);
    auto* idleRow = Row({new QLabel(QStringLiteral("End a session idle for"), this), m_idleTimeout,
                         new QLabel(QStringLiteral("minutes (0 = never)"), this)});
    idleRow->addStretch();
    layout->addLayout(idleRow);
    layout->addWidget(m_penaltyEnable);
    auto* sizeRow = Row({new QLabel(QStringLiteral("Start a new log file past"), this),
                         m_logMaxSize, new QLabel(QStringLiteral("KB (0 = no limit)"), this)});
    sizeRow->addStretch();
    layout->addLayout(sizeRow);
    auto* tlsRow = Row({m_tlsEnable, m_tlsPort});
    tlsRow->addStretch();
    layout->addLayout(tlsRow);
    layout->addLayout(Row({m_tlsOnly}, 20));
    layout->addLayout(
        Row({new QLabel(QStringLiteral("Certificate file :"), this), m_tlsCertFile}, 20));
    layout->addLayout(Row({new QLabel(QStringLiteral("Key file :"), this), m_tlsKeyFile}, 20));
    layout->addLayout(Row({new QLabel(QStringLiteral("SHA-256 fingerprint :"), this)}, 20));
    layout->addLayout(Row({m_tlsFingerprint}, 20));
    layout->addStretch();

    connect(m_tlsEnable, &QCheckBox::clicked, this, [this] { UpdateControls(); });
    connect(m_enableLog, &QCheckBox::clicked, this, [this] { UpdateControls(); });
    connect(m_customPort, &QCheckBox::clicked, this, [this] { UpdateControls(); });
    connect(m_browseLog, &QPushButton::clicked, this, [this] { OnBrowseLogFile(); });
}

void CPageServer::OnInitDialog() {
    CheckFromExactlyOne(m_reverseDns, Settings().Read(setting::ReverseDNS));
    CheckFrom(m_enableLog, Settings().Read(setting::EnableLog));
    CheckFrom(m_echoBack, Settings().Read(setting::EchoBack));
    CheckFrom(m_terminalMode, Settings().Read(setting::TerminalMode));
    SetPathText(m_logFile, Settings().Read(setting::LogFile, m_services.app.Locations()));
    const int port = Settings().Read(setting::PortNr);
    m_customPort->setChecked(port != setting::PortNr.defaultValue);
    m_nInitialPort = port;
    m_port->setText(QString::number(port));
    m_failedLogins->setText(QString::number(Settings().Read(setting::FailedLogins)));
    m_listenAddress->setText(Settings().Read(setting::ListenAddress));
    m_loginTimeout->setText(QString::number(Settings().Read(setting::LoginTimeout)));
    m_idleTimeout->setText(QString::number(Settings().Read(setting::IdleTimeout)));
    CheckFrom(m_penaltyEnable, Settings().Read(setting::PenaltyEnable));
    m_logMaxSize->setText(QString::number(Settings().Read(setting::LogMaxSize)));
    CheckFrom(m_tlsEnable, Settings().Read(setting::TlsEnable));
    m_nInitialTlsPort = Settings().Read(setting::TlsPortNr);
    m_tlsPort->setText(QString::number(m_nInitialTlsPort));
    CheckFrom(m_tlsOnly, Settings().Read(setting::TlsOnly));
    SetPathText(m_tlsCertFile, Settings().Read(setting::TlsCertFile));
    SetPathText(m_tlsKeyFile, Settings().Read(setting::TlsKeyFile));
    ShowFingerprint();
    UpdateControls();
}

void CPageServer::ShowFingerprint() {
    // The certificate the next start uses: the configured one, or the generated one, which
    // exists once the encrypted port has been started.
    const QString configured = Settings().Read(setting::TlsCertFile);
    const QString file =
        configured.isEmpty() ? SelfSignedCertificatePath(UserDataDirectory()) : configured;
    QString reason;
    const QString fingerprint = CertificateFileFingerprint(file, &reason);
    if (!fingerprint.isEmpty()) {
        m_tlsFingerprint->setText(fingerprint);
    } else if (configured.isEmpty()) {
        m_tlsFingerprint->setText(
            QStringLiteral("(none yet: the certificate is made at the first encrypted start)"));
    } else {
        m_tlsFingerprint->setText(reason);
    }
}

void CPageServer::UpdateControls() {
    m_logFile->setEnabled(m_enableLog->isChecked());
    m_browseLog->setEnabled(m_enableLog->isChecked());
    m_port->setEnabled(m_customPort->isChecked());
    const bool tls = m_tlsEnable->isChecked();
    for (QWidget* widget :
         {static_cast<QWidget*>(m_tlsPort), static_cast<QWidget*>(m_tlsOnly),
          static_cast<QWidget*>(m_tlsCertFile), static_cast<QWidget*>(m_tlsKeyFile)}) {
        widget->setEnabled(tls);
    }
}

void CPageServer::OnBrowseLogFile() {
    FileChooserRequest request;
    request.title = QStringLiteral("Select Log File Name");
    request.filters = QStringLiteral("Log Files (*.log);;All Files (*.*)");
    request.defaultExtension = QStringLiteral("LOG");
    request.initialFolder = Settings().Read(setting::BrowseLogDir);
    request.fileMustExist = false;
    const QString chosen = m_services.chooser.ChooseFile(this, request);
    if (chosen.isEmpty()) return;
    SetPathText(m_logFile, chosen);
    // The folder is remembered at once, even if the sheet is cancelled afterwards.
    Settings().Write(setting::BrowseLogDir, QFileInfo(chosen).absolutePath());
}

void CPageServer::OnOK() {
    Settings().Write(setting::ReverseDNS, CheckedValue(m_reverseDns));
    Settings().Write(setting::EnableLog, CheckedValue(m_enableLog));
    Settings().Write(setting::EchoBack, CheckedValue(m_echoBack));
    Settings().Write(setting::TerminalMode, CheckedValue(m_terminalMode));
    Settings().Write(setting::LogFile, m_logFile->text());
    const int port =
        m_customPort->isChecked() ? AtoiPrefix(m_port->text()) : setting::PortNr.defaultValue;
    Settings().Write(setting::PortNr, port);
    Settings().Write(setting::TlsEnable, CheckedValue(m_tlsEnable));
    const int tlsPort = AtoiPrefix(m_tlsPort->text());
    Settings().Write(setting::TlsPortNr, tlsPort);
    Settings().Write(setting::TlsOnly, CheckedValue(m_tlsOnly));
    Settings().Write(setting::TlsCertFile, m_tlsCertFile->text().trimmed());
    Settings().Write(setting::TlsKeyFile, m_tlsKeyFile->text().trimmed());
    if (port != m_nInitialPort || tlsPort != m_nInitialTlsPort) {
        m_services.messages.Show(QString::fromLatin1(kPortChangeText), MessageIcon::Information);
    }
    const int attempts = AtoiPrefix(m_failedLogins->text());
    Settings().Write(setting::FailedLogins, attempts < 0 ? 0 : attempts);
    // Like the port, the address takes effect at the next start of the server.
    Settings().Write(setting::ListenAddress, m_listenAddress->text().trimmed());
    Settings().Write(setting::LoginTimeout, std::max(0, AtoiPrefix(m_loginTimeout->text())));
    Settings().Write(setting::IdleTimeout, std::max(0, AtoiPrefix(m_idleTimeout->text())));
    Settings().Write(setting::PenaltyEnable, CheckedValue(m_penaltyEnable));
    Settings().Write(setting::LogMaxSize, std::max(0, AtoiPrefix(m_logMaxSize->text())));
}

// ---- General ----

CPageGeneral::CPageGeneral(SheetServices services)
    : CConfigPage(QStringLiteral("General"), services),
      m_runAtStart(MakeCheckBox(QStringLiteral("Start when Windows starts"),
                                control::general::kRunAtStart, this)),
      m_runAsServiceBox(MakeCheckBox(QStringLiteral("Run as system service (Windows NT)"),
                                     control::general::kRunAsService, this)),
      m_startMinimized(
          MakeCheckBox(QStringLiteral("Start minimized"), control::general::kStartMinimized, this)),
      m_confirmExit(MakeCheckBox(QStringLiteral("Confirm to exit Orvane"),
                                 control::general::kConfirmExit, this)) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_runAtStart);
    layout->addWidget(m_runAsServiceBox);
    layout->addWidget(m_startMinimized);
    layout->addWidget(m_confirmExit);
    layout->addStretch();
    connect(m_runAsServiceBox, &QCheckBox::clicked, this,
            [this](bool checked) { OnRunAsService(checked); });
}

void CPageGeneral::OnInitDialog() {
    m_bIsNT = QueryPlatformVersion().platformId == kPlatformNT;
    CheckFrom(m_startMinimized, Settings().Read(setting::StartMinimize));
    CheckFromExactlyOne(m_confirmExit, Settings().Read(setting::ConfirmExit));
    m_bInRunList = IsInRunList(kRunListName);
    m_runAtStart->setChecked(m_bInRunList);
    m_nRunAsService = Settings().Read(setting::RunAsService);
    m_runAsServiceBox->setChecked(m_nRunAsService != 0);
    if (!m_bIsNT) m_runAsServiceBox->setEnabled(false);
}

void CPageGeneral::OnRunAsService(bool checked) {
    if (!checked) return;
    m_services.messages.Show(QString::fromLatin1(kNotImplementedText), MessageIcon::Stop);
    m_runAsServiceBox->setChecked(false);
}

void CPageGeneral::OnOK() {
    Settings().Write(setting::StartMinimize, CheckedValue(m_startMinimized));
    Settings().Write(setting::ConfirmExit, CheckedValue(m_confirmExit));
    // An entry that was present and stays checked is left as it is, whatever it names.
    if (m_bInRunList) {
        if (!m_runAtStart->isChecked()) RemoveFromRunList(kRunListName, m_services.messages);
    } else if (m_runAtStart->isChecked()) {
        AddToRunList(kRunListName, m_services.app.Locations().ProgramPath(), m_services.messages);
    }
    // "RunAsService" is only ever shown, never written.
}

// ---- Sounds ----

CPageSounds::CPageSounds(SheetServices services)
    : CConfigPage(QStringLiteral("Sounds"), services),
      m_loginEnable(MakeCheckBox(QStringLiteral("Play sound when user logs in"),
                                 control::sounds::kLoginEnable, this)),
      m_loginFile(MakeLineEdit(control::sounds::kLoginFile, this)),
      m_loginTest(MakeButton(QStringLiteral("Test"), control::sounds::kLoginTest, this)),
      m_loginBrowse(MakeButton(QStringLiteral("Browse"), control::sounds::kLoginBrowse, this)),
      m_logoutEnable(MakeCheckBox(QStringLiteral("Play sound when user logs out"),
                                  control::sounds::kLogoutEnable, this)),
      m_logoutFile(MakeLineEdit(control::sounds::kLogoutFile, this)),
      m_logoutTest(MakeButton(QStringLiteral("Test"), control::sounds::kLogoutTest, this)),
      m_logoutBrowse(MakeButton(QStringLiteral("Browse"), control::sounds::kLogoutBrowse, this)) {
    m_loginFile->setMinimumWidth(m_loginFile->fontMetrics().averageCharWidth() * 32);
    m_logoutFile->setMinimumWidth(m_logoutFile->fontMetrics().averageCharWidth() * 32);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_loginEnable);
    layout->addLayout(Row({m_loginFile, m_loginTest, m_loginBrowse}, 20));
    layout->addWidget(m_logoutEnable);
    layout->addLayout(Row({m_logoutFile, m_logoutTest, m_logoutBrowse}, 20));
    layout->addStretch();

    connect(m_loginEnable, &QCheckBox::clicked, this, [this] { UpdateControls(); });
    connect(m_logoutEnable, &QCheckBox::clicked, this, [this] { UpdateControls(); });
    connect(m_loginBrowse, &QPushButton::clicked, this, [this] { BrowseSound(m_loginFile); });
    connect(m_logoutBrowse, &QPushButton::clicked, this, [this] { BrowseSound(m_logoutFile); });
    // The test plays what the field holds now, not what is stored.
    connect(m_loginTest, &QPushButton::clicked, this,
            [this] { m_services.sound.PlayAsync(m_loginFile->text()); });
    connect(m_logoutTest, &QPushButton::clicked, this,
            [this] { m_services.sound.PlayAsync(m_logoutFile->text()); });
}

void CPageSounds::OnInitDialog() {
    CheckFrom(m_loginEnable, Settings().Read(setting::S1Enable));
    CheckFrom(m_logoutEnable, Settings().Read(setting::S2Enable));
    SetPathText(m_loginFile, m_services.app.LoginSoundFile());
    SetPathText(m_logoutFile, m_services.app.LogoutSoundFile());
    UpdateControls();
}

void CPageSounds::UpdateControls() {
    const bool login = m_loginEnable->isChecked();
    m_loginFile->setEnabled(login);
    m_loginTest->setEnabled(login);
    m_loginBrowse->setEnabled(login);
    const bool logout = m_logoutEnable->isChecked();
    m_logoutFile->setEnabled(logout);
    m_logoutTest->setEnabled(logout);
    m_logoutBrowse->setEnabled(logout);
}

void CPageSounds::BrowseSound(QLineEdit* edit) {
    FileChooserRequest request;
    request.title = QStringLiteral("Select Sound");
    request.filters = QStringLiteral("Wave Files (*.wav)");
    request.defaultExtension = QStringLiteral("WAV");
    request.initialFolder = Settings().Read(setting::BrowseSndDir);
    request.fileMustExist = true;
    const QString chosen = m_services.chooser.ChooseFile(this, request);
    if (chosen.isEmpty()) return;
    SetPathText(edit, chosen);
    Settings().Write(setting::BrowseSndDir, QFileInfo(chosen).absolutePath());
}

void CPageSounds::OnOK() {
    Settings().Write(setting::S1FileName, m_loginFile->text());
    Settings().Write(setting::S2FileName, m_logoutFile->text());
    Settings().Write(setting::S1Enable, CheckedValue(m_loginEnable));
    Settings().Write(setting::S2Enable, CheckedValue(m_logoutEnable));
}

// ---- Messages ----

CPageMsgs::CPageMsgs(SheetServices services)
    : CConfigPage(QStringLiteral("Messages"), services),
      m_loginOk(MakeMultiLineEdit(control::messages::kLoginOk, this)),
      m_loginFail(MakeMultiLineEdit(control::messages::kLoginFail, this)) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Successful login greeting message :"), this));
    layout->addWidget(m_loginOk);
    layout->addWidget(new QLabel(QStringLiteral("Failed login message :"), this));
    layout->addWidget(m_loginFail);
}

void CPageMsgs::OnInitDialog() {
    m_loginFail->setPlainText(ToEditLineBreaks(Settings().Read(setting::LoginFail)));
    m_loginOk->setPlainText(ToEditLineBreaks(Settings().Read(setting::LoginOK)));
}

void CPageMsgs::OnOK() {
    Settings().Write(setting::LoginOK, ToStoredLineBreaks(m_loginOk->toPlainText()));
    Settings().Write(setting::LoginFail, ToStoredLineBreaks(m_loginFail->toPlainText()));
}

}  // namespace orvane
