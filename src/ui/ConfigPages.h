// The settings pages of the configuration sheet: About, Server, General, Sounds, Messages.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace orvane {

class COrvaneApp;
class FileChooser;
class MessageBoxService;
class SettingsStore;
class SoundPlayer;

// What the pages need from outside the sheet.
struct SheetServices {
    COrvaneApp& app;
    MessageBoxService& messages;
    SoundPlayer& sound;
    FileChooser& chooser;
};

// A page loads its controls the first time it is shown in a run of the sheet and stores them
// only when the sheet is confirmed with OK, and only if it was shown.
class CConfigPage : public QWidget {
public:
    CConfigPage(const QString& caption, SheetServices services);

    const QString& Caption() const { return m_caption; }
    bool IsCreated() const { return m_bCreated; }
    // Runs OnInitDialog once per run of the sheet.
    void EnsureCreated();

    virtual void OnOK() {}

protected:
    virtual void OnInitDialog() = 0;
    SettingsStore& Settings();

    SheetServices m_services;

private:
    QString m_caption;
    bool m_bCreated = false;
};

class CPageAbout final : public CConfigPage {
public:
    explicit CPageAbout(SheetServices services);

protected:
    void OnInitDialog() override;

private:
    QLabel* m_version;
};

class CPageServer final : public CConfigPage {
public:
    explicit CPageServer(SheetServices services);
    void OnOK() override;

protected:
    void OnInitDialog() override;

private:
    void UpdateControls();
    void OnBrowseLogFile();
    void ShowFingerprint();

    QCheckBox* m_reverseDns;
    QCheckBox* m_echoBack;
    QCheckBox* m_terminalMode;
    QCheckBox* m_customPort;
    QLineEdit* m_port;
    QCheckBox* m_enableLog;
    QLineEdit* m_logFile;
    QPushButton* m_browseLog;
    QLineEdit* m_failedLogins;
    QLineEdit* m_listenAddress;
    QLineEdit* m_loginTimeout;
    QLineEdit* m_idleTimeout;
    QCheckBox* m_penaltyEnable;
    QLineEdit* m_logMaxSize;
    QCheckBox* m_tlsEnable;
    QLineEdit* m_tlsPort;
    QCheckBox* m_tlsOnly;
    QLineEdit* m_tlsCertFile;
    QLineEdit* m_tlsKeyFile;
    QLabel* m_tlsFingerprint;
    int m_nInitialPort = 0;
    int m_nInitialTlsPort = 0;
};

class CPageGeneral final : public CConfigPage {
public:
    explicit CPageGeneral(SheetServices services);
    void OnOK() override;

protected:
    void OnInitDialog() override;

private:
    void OnRunAsService(bool checked);

    QCheckBox* m_runAtStart;
    QCheckBox* m_runAsServiceBox;
    QCheckBox* m_startMinimized;
    QCheckBox* m_confirmExit;
    bool m_bIsNT = false;
    int m_nRunAsService = 0;
    bool m_bInRunList = false;
};

class CPageSounds final : public CConfigPage {
public:
    explicit CPageSounds(SheetServices services);
    void OnOK() override;

protected:
    void OnInitDialog() override;

private:
    void UpdateControls();
    void BrowseSound(QLineEdit* edit);

    QCheckBox* m_loginEnable;
    QLineEdit* m_loginFile;
    QPushButton* m_loginTest;
    QPushButton* m_loginBrowse;
    QCheckBox* m_logoutEnable;
    QLineEdit* m_logoutFile;
    QPushButton* m_logoutTest;
    QPushButton* m_logoutBrowse;
};

class CPageMsgs final : public CConfigPage {
public:
    explicit CPageMsgs(SheetServices services);
    void OnOK() override;

protected:
    void OnInitDialog() override;

private:
    QPlainTextEdit* m_loginOk;
    QPlainTextEdit* m_loginFail;
};

}  // namespace orvane
