// The "Server Configuration" sheet, as the main window runs it.
#pragma once

#include <QDialog>
#include <vector>

class QTabWidget;

namespace orvane {

class COrvaneApp;
class SoundPlayer;
class FileChooser;
class MessageBoxService;
class CConfigPage;
class CPageAbout;
class CPageServer;
class CPageGeneral;
class CPageSounds;
class CPageMsgs;
class CPageUsers;

// The six pages in their order. A page is loaded the first time it is shown; OK stores the
// pages that were shown, in page order, then replaces the live user table with the Users
// page's copy and saves it. Cancel stores nothing.
class CConfigSheet final : public QDialog {
public:
    enum Page { About, Server, General, Sounds, Messages, Users, PageCount };

    CConfigSheet(COrvaneApp& app, MessageBoxService& messages, SoundPlayer& sound,
                 FileChooser& chooser, QWidget* owner = nullptr);
    ~CConfigSheet() override;

    // Brings a page to the front, loading it if this is its first showing.
    void ShowPage(Page page);
    CPageAbout& AboutPage() const;
    CPageServer& ServerPage() const;
    CPageGeneral& GeneralPage() const;
    CPageSounds& SoundsPage() const;
    CPageMsgs& MessagesPage() const;
    CPageUsers& UsersPage() const;

    // The sheet's own buttons.
    void PressOK();
    void PressCancel() { reject(); }

private:
    COrvaneApp& m_app;
    QTabWidget* m_tabs;
    std::vector<CConfigPage*> m_pages;
};

// Shows the sheet modally over the owner; sessions keep being served meanwhile. Returns true
// when the sheet closed with OK.
bool RunConfigurationSheet(QWidget* owner, COrvaneApp& app, SoundPlayer& sound,
                           FileChooser& chooser);

}  // namespace orvane
