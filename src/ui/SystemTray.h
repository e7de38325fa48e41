// The tray icon: busy or idle image, the connection count as tooltip, double click and menu.
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace orvane {

// The command ids the tray menu sends to the main window.
namespace command {
inline constexpr int kHide = 32771;
inline constexpr int kExitNow = 32772;
inline constexpr int kEnableServer = 32773;
inline constexpr int kOpen = 32774;
}  // namespace command

class CSystemTray final : public QObject {
    Q_OBJECT
public:
    // Tooltips are cut to this many characters.
    static constexpr int kMaxTooltip = 63;

    // Without a tray on this desktop the icon stays absent and every operation does nothing.
    explicit CSystemTray(bool trayAvailable, QObject* parent = nullptr);
    ~CSystemTray() override;  // removes the icon

    // Adds the icon; false when there is no tray.
    bool Create(const QString& tooltip, const QIcon& icon);
    // Both return false while no icon is shown.
    bool SetIcon(const QIcon& icon);
    bool SetTooltipText(const QString& text);
    void RemoveIcon();

    bool IsShown() const { return m_iconShown; }
    QString TooltipText() const;
    QIcon Icon() const;

    // Asked each time the menu opens, for the check mark of "&Enable Server".
    void SetListeningQuery(std::function<bool()> isListening) {
        m_isListening = std::move(isListening);
    }

    // The menu: "&Open..." (default), "&Enable Server", separator, "E&xit Now"; each action
    // carries its command id as data.
    static void BuildMenu(QMenu& menu);
    static void UpdateMenu(QMenu& menu, bool listening);

signals:
    void commandChosen(int id);

private:
    bool m_trayAvailable;
    bool m_iconShown = false;
    std::unique_ptr<QSystemTrayIcon> m_icon;
    std::unique_ptr<QMenu> m_menu;
    std::function<bool()> m_isListening;
};

}  // namespace orvane
