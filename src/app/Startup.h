// The program's start-up in its fixed order, up to the point where the main window runs.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace orvane {

class COrvaneApp;
class AdminAccountPrompt;

// The platform services start-up brings up before anything else.
class StartupPlatform {
public:
    virtual ~StartupPlatform() = default;
    // The network stack; false ends the program before any file is touched.
    virtual bool StartSockets() = 0;
    // The component runtime (the session bus). False only means: no automation this run.
    virtual bool StartComponentRuntime() = 0;
    // A run the bus started serves the automation object; any other run records where the
    // bus can start the program. Only called when the component runtime is available.
    virtual void RegisterAutomation(COrvaneApp& app) = 0;
};

class Startup final {
public:
    Startup(COrvaneApp& app, StartupPlatform& platform, AdminAccountPrompt& adminPrompt);

    // Sockets, component runtime, user table, first-run account, automation. Returns false
    // when the program must end (its message has been shown).
    bool Prepare();
    // Prepare, then the main window's modal run, whose result becomes the exit code.
    // Without a successful Prepare the main window never runs and the result is 1.
    int Run(const std::function<int()>& runMainWindow);

    bool ComponentRuntimeAvailable() const { return m_componentRuntime; }

private:
    COrvaneApp& m_app;
    StartupPlatform& m_platform;
    AdminAccountPrompt& m_adminPrompt;
    bool m_componentRuntime = false;
};

}  // namespace orvane
