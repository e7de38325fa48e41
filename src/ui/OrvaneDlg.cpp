// The main window. It keeps the switch, the count display and the tray icon in step with
// the Telnet service; the service itself does the serving.
#include "ui/OrvaneDlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>

#include "Version.h"
#include "app/OperatorTexts.h"
#include "app/OrvaneApp.h"
#include "config/ActivityLog.h"
#include "config/SettingsStore.h"
#include "platform/MessageBox.h"
#include "telnet/TelnetService.h"
#include "ui/AboutBox.h"
#include "ui/ActivityListModel.h"
#include "ui/ConfigSheet.h"
#include "ui/ControlIds.h"
#include "ui/SystemTray.h"

namespace orvane {

namespace {
// The window's layout in dialog units, converted with the font's own base units so that
// the proportions hold whatever font the desktop uses.
struct DialogUnits {
    double x;
    double y;
    explicit DialogUnits(const QFont& font) {
        const QFontMetricsF metrics(font);
        const QString letters =
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        x = metrics.horizontalAdvance(letters) / 52.0 / 4.0;
        y = metrics.height() / 8.0;
    }
    QRect Rect(int left, int top, int width, int height) const {
        return QRect(qRound(left * x), qRound(top * y), qRound(width * x), qRound(height * y));
    }
};
}  // namespace

COrvaneDlg::COrvaneDlg(COrvaneApp& app, TelnetService& server, ActivityLog& log,
                       MainWindowServices services, QWidget* parent)
    : QDialog(parent),
      m_app(app),
      m_server(server),
      m_log(log),
      m_services(services),
      m_hBusyIcon(QStringLiteral(":/icons/busy.png")),
      m_hIdleIcon(QStringLiteral(":/icons/idle.png")),
      m_trayIcon(std::make_unique<CSystemTray>(services.trayAvailable)) {
    m_hMainIcon.addFile(QStringLiteral(":/icons/orvane.png"), QSize(32, 32));
    m_hMainIcon.addFile(QStringLiteral(":/icons/orvane-16.png"), QSize(16, 16));

    setWindowTitle(QString::fromLatin1(kMainCaptionFormat).arg(QLatin1String(kVersionText)));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(m_hMainIcon);

    CreateControls();
    CreateTrayIcon();
    InsertActivityColumns();
    UpdateConnectionText();

    connect(&m_server, &TelnetService::connectionCountChanged, this, [this](int count) {
        // A count below zero would be a bookkeeping slip; neither the text nor the tray
        // should ever show one.
        m_nConnections = count < 0 ? 0 : count;
        UpdateConnectionText();
        UpdateTrayStatus();
    });
    connect(&m_log, &ActivityLog::entryAdded, m_activityModel, &ActivityListModel::Append);
    connect(&m_log, &ActivityLog::entryAdded, this, &COrvaneDlg::ScrollToNewest);
    connect(m_enableSwitch, &QPushButton::clicked, this, &COrvaneDlg::OnEnableServer);
    connect(m_configureButton, &QPushButton::clicked, this, &COrvaneDlg::OnConfigure);
    connect(m_aboutAction, &QAction::triggered, this, &COrvaneDlg::ShowAboutBox);
    connect(m_trayIcon.get(), &CSystemTray::commandChosen, this, &COrvaneDlg::OnCommand);

    // The server starts once the modal run's loop turns, as if the operator had clicked.
    m_enableSwitch->setChecked(true);
    QMetaObject::invokeMethod(this, &COrvaneDlg::OnEnableServer, Qt::QueuedConnection);
    if (m_app.Settings().Read(setting::StartMinimize) != 0) PostCommand(command::kHide);
}

// The automation proxy's pointer back to this window is cleared by AutomationOwner.
COrvaneDlg::~COrvaneDlg() = default;

void COrvaneDlg::CreateControls() {
    const DialogUnits units(font());
    setFixedSize(units.Rect(0, 0, 312, 134).size());

    m_activityList = new QTreeView(this);
    m_activityList->setObjectName(QLatin1String(control::main::kActivityList));
    m_activityList->setGeometry(units.Rect(5, 5, 300, 105));
    m_activityList->setRootIsDecorated(false);
    m_activityList->setItemsExpandable(false);
    m_activityList->setUniformRowHeights(true);
    m_activityList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_activityList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_activityList->setSortingEnabled(false);
    m_activityList->header()->setSectionsClickable(false);
    m_activityList->header()->setSectionsMovable(false);
    m_activityList->header()->setStretchLastSection(false);
    m_activityModel = new ActivityListModel(this);
    m_activityList->setModel(m_activityModel);

    m_connectionText = new QLabel(this);
    m_connectionText->setObjectName(QLatin1String(control::main::kConnectionText));
    m_connectionText->setGeometry(units.Rect(5, 115, 145, 10));

    m_enableSwitch = new QPushButton(QStringLiteral("Enable Server"), this);
    m_enableSwitch->setObjectName(QLatin1String(control::main::kEnableSwitch));
    m_enableSwitch->setCheckable(true);
    m_enableSwitch->setAutoDefault(false);
    m_enableSwitch->setGeometry(units.Rect(160, 115, 70, 15));

    m_configureButton = new QPushButton(QStringLiteral("Configure..."), this);
    m_configureButton->setObjectName(QLatin1String(control::main::kConfigure));
    m_configureButton->setAutoDefault(false);
    m_configureButton->setGeometry(units.Rect(235, 115, 70, 15));

    // Without a system menu, the About item lives in the window's context menu (a right
    // click anywhere in the window), last, after a separator, as it would there.
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    addAction(separator);
    m_aboutAction = new QAction(QStringLiteral("&About orvane..."), this);
    addAction(m_aboutAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void COrvaneDlg::CreateTrayIcon() {
    m_trayIcon->SetListeningQuery([this] { return m_server.IsListening(); });
    m_trayIcon->Create(QString::fromLatin1(kTrayTooltipFormat).arg(0), m_hIdleIcon);
}

void COrvaneDlg::InsertActivityColumns() {
    // The widths are fixed once, from the list's width when the window is made.
    const int w = m_activityList->contentsRect().width() - 20;
    m_activityList->setColumnWidth(0, w / 4);
    m_activityList->setColumnWidth(1, w / 4);
    m_activityList->setColumnWidth(2, 2 * w / 4);
}

int COrvaneDlg::exec() {
    setResult(0);
    show();
    QEventLoop loop;
    m_modalLoop = &loop;
    loop.exec(QEventLoop::DialogExec);
    m_modalLoop = nullptr;
    return result();
}

void COrvaneDlg::done(int result) {
    QDialog::done(result);
    if (m_modalLoop) m_modalLoop->exit(result);
}

void COrvaneDlg::accept() {
    if (MayClose()) QDialog::accept();
}

void COrvaneDlg::reject() {
    if (MayClose()) QDialog::reject();
}

void COrvaneDlg::closeEvent(QCloseEvent* event) {
    if (QueryTerminate() && MayClose()) {
        event->accept();
        QDialog::reject();
    } else {
        event->ignore();
    }
}

void COrvaneDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // Without a tray a hidden window could never be brought back: it stays minimised.
    if (!m_services.trayAvailable) return;
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized)) {
        // Hidden from the next turn of the loop: hiding inside the state change itself
        // confuses some window managers.
        QTimer::singleShot(0, this, [this] {
            if (windowState() & Qt::WindowMinimized) hide();
        });
    }
}

void COrvaneDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Nothing: a stray Enter must not end the server and every session with it.
            return;
        case Qt::Key_Escape:
            // Like the close box, so "ConfirmExit" is asked.
            close();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void COrvaneDlg::PostCommand(int id) {
    QMetaObject::invokeMethod(
        this, [this, id] { OnCommand(id); }, Qt::QueuedConnection);
}

void COrvaneDlg::OnCommand(int id) {
    switch (id) {
        case command::kHide:
            HideOrMinimize();
            break;
        case command::kExitNow:
            if (QueryTerminate()) done(QDialog::Rejected);
            break;
        case command::kEnableServer:
            m_enableSwitch->setChecked(!m_enableSwitch->isChecked());
            OnEnableServer();
            break;
        case command::kOpen:
            ShowRestored();
            break;
        default:
            break;
    }
}

void COrvaneDlg::HideOrMinimize() {
    if (m_services.trayAvailable)
        hide();
    else
        showMinimized();
}

void COrvaneDlg::ExitNowWithoutQuestion() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget == this || !widget->isVisible()) continue;
        if (auto* dialog = qobject_cast<QDialog*>(widget))
            dialog->reject();
        else if (auto* menu = qobject_cast<QMenu*>(widget))
            menu->close();
    }
    done(QDialog::Rejected);
}

void COrvaneDlg::ShowRestored() {
    showNormal();
    raise();
    activateWindow();
}

void COrvaneDlg::OnEnableServer() {
    if (m_enableSwitch->isChecked()) {
        if (!m_server.StartServer()) {
            m_enableSwitch->setChecked(false);
            m_services.messages.Show(StartFailedMessage(m_server.StartFailure()),
                                     MessageIcon::Stop);
        }
        return;
    }
    if (m_nConnections > 0 &&
        m_services.messages.Show(QString::fromLatin1(kStopQuestionText), MessageIcon::Question,
                                 MessageButtons::YesNo) != MessageAnswer::Yes) {
        m_enableSwitch->setChecked(true);
        return;
    }
    if (!m_server.StopServer()) {
        m_services.messages.Show(QString::fromLatin1(kStopFailedText), MessageIcon::Stop);
    }
}

void COrvaneDlg::UpdateConnectionText() {
    m_connectionText->setText(QString::fromLatin1(kConnectionTextFormat).arg(m_nConnections));
}

void COrvaneDlg::UpdateTrayStatus() {
    if (m_nConnections < 0) m_nConnections = 0;
    m_trayIcon->SetTooltipText(QString::fromLatin1(kTrayTooltipFormat).arg(m_nConnections));
    m_trayIcon->SetIcon(m_nConnections > 0 ? m_hBusyIcon : m_hIdleIcon);
}

bool COrvaneDlg::QueryTerminate() {
    if (m_app.Settings().Read(setting::ConfirmExit) != 1) return true;
    return m_services.messages.Show(QString::fromLatin1(kConfirmExitText), MessageIcon::Question,
                                    MessageButtons::YesNo) == MessageAnswer::Yes;
}

void COrvaneDlg::LogActivity(const QByteArray& who, const QByteArray& what) {
    m_log.LogActivity(who, what);
}

void COrvaneDlg::ScrollToNewest() {
    const int rows = m_activityModel->rowCount();
    if (rows > 0) {
        m_activityList->scrollTo(m_activityModel->index(rows - 1, 0),
                                 QAbstractItemView::EnsureVisible);
    }
}

void COrvaneDlg::ShowAboutBox() {
    CAboutBox about(this);
    about.setWindowIcon(m_hMainIcon);
    about.exec();
}

void COrvaneDlg::OnConfigure() {
    RunConfigurationSheet(this, m_app, m_services.sound, m_services.chooser);
}

}  // namespace orvane
