// The configuration sheet: a modal dialog whose tabs are the pages.
#include "ui/ConfigSheet.h"

#include <QDialogButtonBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/OrvaneApp.h"
#include "ui/ConfigPages.h"
#include "ui/PageUsers.h"

namespace orvane {

CConfigSheet::CConfigSheet(COrvaneApp& app, MessageBoxService& messages, SoundPlayer& sound,
                           FileChooser& chooser, QWidget* owner)
    : QDialog(owner), m_app(app), m_tabs(new QTabWidget(this)) {
    setWindowTitle(QStringLiteral("Server Configuration"));
    const SheetServices services{app, messages, sound, chooser};
    m_pages = {new CPageAbout(services),  new CPageServer(services), new CPageGeneral(services),
               new CPageSounds(services), new CPageMsgs(services),   new CPageUsers(services)};
    // The page works on a copy: logins keep reading the live table while the sheet is open.
    UsersPage().Table() = app.Users();

    for (CConfigPage* page : m_pages) m_tabs->addTab(page, page->Caption());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, [this] { PressOK(); });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] { PressCancel(); });
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (index >= 0 && index < PageCount) m_pages[index]->EnsureCreated();
    });
    // The first page is shown as the sheet opens.
    m_tabs->setCurrentIndex(About);
    m_pages[About]->EnsureCreated();
}

CConfigSheet::~CConfigSheet() = default;

void CConfigSheet::ShowPage(Page page) {
    m_tabs->setCurrentIndex(page);
    m_pages[page]->EnsureCreated();
}

CPageAbout& CConfigSheet::AboutPage() const {
    return static_cast<CPageAbout&>(*m_pages[About]);
}
CPageServer& CConfigSheet::ServerPage() const {
    return static_cast<CPageServer&>(*m_pages[Server]);
}
CPageGeneral& CConfigSheet::GeneralPage() const {
    return static_cast<CPageGeneral&>(*m_pages[General]);
}
CPageSounds& CConfigSheet::SoundsPage() const {
    return static_cast<CPageSounds&>(*m_pages[Sounds]);
}
CPageMsgs& CConfigSheet::MessagesPage() const {
    return static_cast<CPageMsgs&>(*m_pages[Messages]);
}
CPageUsers& CConfigSheet::UsersPage() const {
    return static_cast<CPageUsers&>(*m_pages[Users]);
}

void CConfigSheet::PressOK() {
    for (CConfigPage* page : m_pages) {
        if (page->IsCreated()) page->OnOK();
    }
    m_app.Users() = UsersPage().Table();
    m_app.SaveUserDatabase();
    accept();
}

bool RunConfigurationSheet(QWidget* owner, COrvaneApp& app, SoundPlayer& sound,
                           FileChooser& chooser) {
    CConfigSheet sheet(app, app.Messages(), sound, chooser, owner);
    return sheet.exec() == QDialog::Accepted;
}

}  // namespace orvane
