// Screenshot mode: with ORVANE_SHEET_SCREENSHOTS set to a folder, grabs every page of the
// sheet and the two user dialogs into it (scripts/screenshots-sheet.sh runs this under Xvfb).
#include <QApplication>
#include <QDir>

#include "SheetFixture.h"
#include "ui/ConfigPages.h"
#include "ui/PageUsers.h"
#include "ui/UserDialogs.h"
#include "users/UserEditing.h"

namespace orvane {
namespace {

class SheetScreenshots : public test::SheetFixture {
protected:
    void SetUp() override {
        m_outDir = qEnvironmentVariable("ORVANE_SHEET_SCREENSHOTS");
        if (m_outDir.isEmpty()) GTEST_SKIP() << "set ORVANE_SHEET_SCREENSHOTS to a folder";
        QDir().mkpath(m_outDir);
    }
    void Save(QWidget& widget, const QString& name) {
        widget.show();
        for (int i = 0; i < 10; ++i) QApplication::processEvents();
        const QString path = m_outDir + QStringLiteral("/sheet-") + name + QStringLiteral(".png");
        EXPECT_TRUE(widget.grab().save(path)) << path.toStdString();
    }
    QString m_outDir;
};

TEST_F(SheetScreenshots, GrabEveryPage) {
    for (const char* name : {"Administrator", "guest", "Operator", "backup"}) {
        UserRecord record;
        record.canLogin = 1;
        SetRecordText(record.name, kNameSize, QLatin1String(name), 127);
        AppendUser(m_app.Users(), record);
    }
    // Paths as an installed copy would show them, not the test's temporary folder.
    m_settings.Write(setting::LogFile, QStringLiteral("/opt/orvane/ORVANE.LOG"));
    m_settings.Write(setting::S1FileName, QStringLiteral("/opt/orvane/LOGIN.WAV"));
    m_settings.Write(setting::S2FileName, QStringLiteral("/opt/orvane/LOGOUT.WAV"));
    auto sheet = OpenSheet();
    sheet->resize(460, 340);
    const char* names[] = {"about", "server", "general", "sounds", "messages", "users"};
    for (int page = 0; page < CConfigSheet::PageCount; ++page) {
        sheet->ShowPage(static_cast<CConfigSheet::Page>(page));
        Save(*sheet, QLatin1String(names[page]));
    }
    sheet->PressCancel();

    UserRecord edited = m_app.Users().records[1];
    CopyText(edited.greeting, kGreetingSize, "Welcome, guest.\r\nPlease behave.", 498);
    CUserDlg userDialog(false, edited);
    Save(userDialog, QStringLiteral("userdlg"));
    CAddAdminDlg adminDialog;
    Save(adminDialog, QStringLiteral("addadmin"));
}

}  // namespace
}  // namespace orvane
