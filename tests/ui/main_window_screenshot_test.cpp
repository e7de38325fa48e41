// Saves a picture of the main window with a few activity rows when ORVANE_SCREENSHOT_DIR is
// set (scripts/screenshots-main.sh does that under Xvfb); skipped otherwise.
#include <QDir>
#include <QPixmap>

#include "WindowFixture.h"

namespace orvane::test {
namespace {

class MainWindowScreenshot : public WindowFixture {};

TEST_F(MainWindowScreenshot, SavesTheMainWindowWithActivity) {
    const QByteArray directory = qgetenv("ORVANE_SCREENSHOT_DIR");
    if (directory.isEmpty()) GTEST_SKIP() << "ORVANE_SCREENSHOT_DIR is not set";

    settings.Write(setting::EnableLog, 0);
    log.SetClock([] { return QDateTime(QDate(2026, 3, 14), QTime(9, 5, 3)); });
    COrvaneDlg& window = ShownWindow(/*trayAvailable=*/false);
    const QByteArray who = "192.168.1.20";
    window.LogActivity(who, "Logging in...");
    window.LogActivity(who, "Logged in as \"operator\"");
    window.LogActivity(who, "help");
    window.LogActivity(who, "dos");
    window.LogActivity("workstation.lan", "Logging in...");
    window.LogActivity("workstation.lan", "Login as \"guest\" failed");
    window.LogActivity(who, "Connection terminated");
    WaitUntil([] { return false; }, 300);

    QDir().mkpath(QString::fromLocal8Bit(directory));
    const QString path = QString::fromLocal8Bit(directory) + QStringLiteral("/main-window.png");
    ASSERT_TRUE(window.grab().save(path));
}

}  // namespace
}  // namespace orvane::test
