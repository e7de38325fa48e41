// Orvane's entry point: picks windows or console, wires the real services, runs start-up.
#include <QApplication>
#include <QSystemTrayIcon>
#include <memory>

#include "app/ConsoleAdminPrompt.h"
#include "app/ConsoleMode.h"
#include "app/ConsoleRunner.h"
#include "app/OrvaneApp.h"
#include "app/Startup.h"
#include "automation/AutomationServer.h"
#include "automation/LinuxStartupPlatform.h"
#include "config/ActivityLog.h"
#include "config/SettingsStore.h"
#include "platform/ChildReaper.h"
#include "platform/ConsoleMessageBox.h"
#include "platform/InterpreterProcess.h"
#include "platform/LinuxPowerControl.h"
#include "platform/ProcessSignals.h"
#include "platform/QtSoundPlayer.h"
#include "platform/widgets/QtFileChooser.h"
#include "platform/widgets/QtMessageBox.h"
#include "telnet/DosBridge.h"
#include "telnet/TelnetService.h"
#include "ui/OrvaneDlg.h"
#include "ui/UserDialogs.h"

namespace {

using namespace orvane;

// Everything the server needs besides its windows, shared by both modes.
struct ServerParts {
    QtSoundPlayer sound;
    LinuxPowerControl power;
    PosixInterpreterLauncher launcher;
};

void WireBridges(TelnetService& server, ServerParts& parts) {
    server.SetBridgeFactory([&parts](BridgeEndpoint& endpoint) {
        return std::make_unique<DosBridge>(endpoint, parts.launcher);
    });
}

// Start-up, then the server and its activity log handed to the front end of either mode.
// Shells still ending when the front end returns are ended and reaped before Qt goes.
template <typename FrontEnd>
int RunServer(MessageBoxService& messages, AdminAccountPrompt& adminPrompt, FrontEnd frontEnd) {
    SettingsStore settings;
    COrvaneApp app(QCoreApplication::applicationFilePath(), settings, messages);
    ServerParts parts;
    LinuxStartupPlatform platform(QCoreApplication::arguments());
    Startup startup(app, platform, adminPrompt);
    const int status = startup.Run([&] {
        ActivityLog log(settings, app.Locations());
        TelnetService server(settings, app.Locations(), app.Users(), log,
                             ServerServices{parts.sound, parts.power});
        WireBridges(server, parts);
        return frontEnd(app, server, log, parts, platform);
    });
    ChildReaper::Instance().FinishAll();
    return status;
}

int RunWindowed(int argc, char** argv) {
    QApplication qapp(argc, argv);
    // Hiding to the tray and closing message boxes must not end the program: only the main
    // window's modal run does.
    qapp.setQuitOnLastWindowClosed(false);

    QtMessageBox messages;
    QtFileChooser chooser;
    QtAdminAccountPrompt adminPrompt;
    return RunServer(messages, adminPrompt,
                     [&](COrvaneApp& app, TelnetService& server, ActivityLog& log,
                         ServerParts& parts, LinuxStartupPlatform& platform) {
                         COrvaneDlg window(
                             app, server, log,
                             MainWindowServices{messages, parts.sound, chooser,
                                                QSystemTrayIcon::isSystemTrayAvailable()});
                         messages.SetOwner(&window);
                         AutomationServer* automation = platform.Automation();
                         if (automation) automation->SetMainWindow(&window);
                         window.exec();
                         if (automation) automation->SetMainWindow(nullptr);
                         messages.SetOwner(nullptr);
                         return 0;
                     });
}

int RunConsole(int argc, char** argv) {
    QCoreApplication qapp(argc, argv);
    ConsoleMessageBox messages;
    ConsoleAdminPrompt adminPrompt;
    return RunServer(messages, adminPrompt,
                     [&](COrvaneApp&, TelnetService& server, ActivityLog& log, ServerParts&,
                         LinuxStartupPlatform&) {
                         ConsoleRunner runner(server, log, messages);
                         return runner.Run();
                     });
}

}  // namespace

int main(int argc, char** argv) {
    // Before any socket or pipe exists: a gone peer or interpreter is EPIPE, not the end.
    orvane::IgnoreBrokenPipeSignal();
    return orvane::WantsConsoleMode(argc, argv) ? RunConsole(argc, argv) : RunWindowed(argc, argv);
}
