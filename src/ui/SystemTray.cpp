// The tray icon on QSystemTrayIcon.
#include "ui/SystemTray.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

namespace orvane {

CSystemTray::CSystemTray(bool trayAvailable, QObject* parent)
    : QObject(parent), m_trayAvailable(trayAvailable) {}

CSystemTray::~CSystemTray() {
    RemoveIcon();
}

bool CSystemTray::Create(const QString& tooltip, const QIcon& icon) {
    if (!m_trayAvailable || m_iconShown) return m_iconShown;
    m_menu = std::make_unique<QMenu>();
    BuildMenu(*m_menu);
    // The check mark shows the server's state at the moment the menu opens.
    connect(m_menu.get(), &QMenu::aboutToShow, this,
            [this] { UpdateMenu(*m_menu, m_isListening && m_isListening()); });
    connect(m_menu.get(), &QMenu::triggered, this,
            [this](QAction* action) { emit commandChosen(action->data().toInt()); });

    m_icon = std::make_unique<QSystemTrayIcon>(icon);
    m_icon->setToolTip(tooltip.left(kMaxTooltip));
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // A single click or mere movement does nothing; the double click restores.
                if (reason == QSystemTrayIcon::DoubleClick) emit commandChosen(command::kOpen);
            });
    m_icon->show();
    m_iconShown = true;
    return true;
}

bool CSystemTray::SetIcon(const QIcon& icon) {
    if (!m_iconShown) return false;
    m_icon->setIcon(icon);
    return true;
}

bool CSystemTray::SetTooltipText(const QString& text) {
    if (!m_iconShown) return false;
    m_icon->setToolTip(text.left(kMaxTooltip));
    return true;
}

void CSystemTray::RemoveIcon() {
    if (!m_iconShown) return;
    m_icon->hide();
    m_icon.reset();
    m_menu.reset();
    m_iconShown = false;
}

QString CSystemTray::TooltipText() const {
    return m_iconShown ? m_icon->toolTip() : QString();
}

QIcon CSystemTray::Icon() const {
    return m_iconShown ? m_icon->icon() : QIcon();
}

void CSystemTray::BuildMenu(QMenu& menu) {
    menu.clear();
    QAction* open = menu.addAction(QStringLiteral("&Open..."));
    open->setData(command::kOpen);
    QAction* enable = menu.addAction(QStringLiteral("&Enable Server"));
    enable->setData(command::kEnableServer);
    enable->setCheckable(true);
    menu.addSeparator();
    menu.addAction(QStringLiteral("E&xit Now"))->setData(command::kExitNow);
    menu.setDefaultAction(open);
}

void CSystemTray::UpdateMenu(QMenu& menu, bool listening) {
    for (QAction* action : menu.actions()) {
        if (action->data().toInt() == command::kEnableServer) action->setChecked(listening);
    }
}

}  // namespace orvane
