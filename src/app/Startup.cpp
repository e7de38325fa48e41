// Start-up: every step in order, each failure shown before the program ends.
#include "app/Startup.h"

#include "app/OperatorTexts.h"
#include "app/OrvaneApp.h"
#include "platform/MessageBox.h"
#include "users/UserDatabase.h"

namespace orvane {

Startup::Startup(COrvaneApp& app, StartupPlatform& platform, AdminAccountPrompt& adminPrompt)
    : m_app(app), m_platform(platform), m_adminPrompt(adminPrompt) {}

bool Startup::Prepare() {
    if (!m_platform.StartSockets()) {
        m_app.Messages().Show(QString::fromLatin1(kSocketsFailedText), MessageIcon::None,
                              MessageButtons::Ok);
        return false;
    }
    // A desktop without a session bus still gets its server; only automation is missing.
    m_componentRuntime = m_platform.StartComponentRuntime();

    // The settings location and the data path are fixed by the application object; the
    // table is read only now, after both.
    m_app.LoadUserDatabase();
    RunFirstRunAccountFlow(m_app.Users(), m_app.Database(), m_adminPrompt, m_app.Messages());
    if (m_componentRuntime) m_platform.RegisterAutomation(m_app);
    return true;
}

int Startup::Run(const std::function<int()>& runMainWindow) {
    if (!Prepare()) return 1;
    return runMainWindow();
}

}  // namespace orvane
