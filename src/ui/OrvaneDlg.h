// The main window: activity list, server switch, connection count, configuration, tray.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QIcon>
#include <memory>

#include "automation/AutomationOwner.h"

class QAction;
class QEventLoop;
class QLabel;
class QPushButton;
class QTreeView;

namespace orvane {

class ActivityListModel;
class ActivityLog;
class COrvaneApp;
class CSystemTray;
class FileChooser;
class MessageBoxService;
class SoundPlayer;
class TelnetService;

// What the window needs from the platform.
struct MainWindowServices {
    MessageBoxService& messages;
    SoundPlayer& sound;
    FileChooser& chooser;
    bool trayAvailable;  // false: no tray icon, the window works on
};

class COrvaneDlg final : public QDialog, public AutomationOwner {
    Q_OBJECT
public:
    COrvaneDlg(COrvaneApp& app, TelnetService& server, ActivityLog& log,
               MainWindowServices services, QWidget* parent = nullptr);
    ~COrvaneDlg() override;

    // The modal run. Unlike QDialog's own, it survives the window being hidden to the tray:
    // only accept, reject, "E&xit Now" or the close box end it.
    int exec() override;
    void done(int result) override;

    void OnCommand(int id);
    // "E&xit Now" without the question, for a signal: whatever runs nested (a message box,
    // the sheet, the tray menu) is closed unconfirmed first, so that the modal run returns.
    void ExitNowWithoutQuestion();
    void OnEnableServer();
    void UpdateConnectionText();
    void UpdateTrayStatus();
    bool QueryTerminate();
    using AutomationOwner::MayClose;
    void LogActivity(const QByteArray& who, const QByteArray& what);
    void ShowAboutBox();

    CSystemTray& TrayIcon() { return *m_trayIcon; }
    const QIcon& BusyIcon() const { return m_hBusyIcon; }
    const QIcon& IdleIcon() const { return m_hIdleIcon; }
    ActivityListModel& ActivityModel() { return *m_activityModel; }
    QAction* AboutAction() const { return m_aboutAction; }

public slots:
    void accept() override;
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    // While an automation client holds the program, closing only hides the window.
    void HideForAutomation() override { hide(); }
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();
    void CreateTrayIcon();
    void InsertActivityColumns();
    void PostCommand(int id);
    void ShowRestored();
    // To the tray where there is one; to the task bar where not, so it can always come back.
    void HideOrMinimize();
    void OnConfigure();
    void ScrollToNewest();

    COrvaneApp& m_app;
    TelnetService& m_server;
    ActivityLog& m_log;
    MainWindowServices m_services;

    QIcon m_hBusyIcon;
    QIcon m_hIdleIcon;
    std::unique_ptr<CSystemTray> m_trayIcon;
    int m_nConnections = 0;
    QLabel* m_connectionText = nullptr;
    QPushButton* m_enableSwitch = nullptr;
    QPushButton* m_configureButton = nullptr;
    QTreeView* m_activityList = nullptr;
    ActivityListModel* m_activityModel = nullptr;
    QAction* m_aboutAction = nullptr;
    QIcon m_hMainIcon;
    QEventLoop* m_modalLoop = nullptr;
};

}  // namespace orvane
