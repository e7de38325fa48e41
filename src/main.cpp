// Orvane's entry point: reads the command line, picks windows or console, wires the real
// services, runs start-up.
#include <unistd.h>

#include <QApplication>
#include <QSystemTrayIcon>
#include <chrono>
#include <cstdio>
#include <memory>

#include "app/CommandLine.h"
#include "app/ConsoleAdminPrompt.h"
#include "app/ConsoleMode.h"
#include "app/ConsoleRunner.h"
#include "app/OperatorTexts.h"
#include "app/OrvaneApp.h"
#include "app/Startup.h"
#include "app/UserCommands.h"
#include "automation/AutomationServer.h"
#include "automation/LinuxStartupPlatform.h"
#include "config/ActivityLog.h"
#include "config/SettingsStore.h"
#include "platform/ChildReaper.h"
#include "platform/ConsoleMessageBox.h"
#include "platform/ExitSignals.h"
#include "platform/InstanceLock.h"
#include "platform/InterpreterProcess.h"
#include "platform/LinuxPowerControl.h"
#include "platform/ProcessSignals.h"
#include "platform/QtSoundPlayer.h"
#include "platform/TerminalProcess.h"
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
    PosixTerminalLauncher terminalLauncher;  // terminal mode's `dos`
};

void WireBridges(TelnetService& server, ServerParts& parts) {
    server.SetBridgeFactory([&parts](BridgeEndpoint& endpoint) {
        return std::make_unique<DosBridge>(endpoint, parts.launcher, parts.terminalLauncher);
    });
}

// Start-up, then the server and its activity log handed to the front end of either mode.
// Shells still ending when the front end returns are ended and reaped before Qt goes.
template <typename FrontEnd>
int RunServer(MessageBoxService& messages, AdminAccountPrompt& adminPrompt, FrontEnd frontEnd) {
    SettingsStore settings;
    COrvaneApp app(QCoreApplication::applicationFilePath(), settings, messages);
    // Held for the whole run, before the table is read: the user commands refuse to change
    // the users while it is held. Their own hold lasts only a load and a save.
    InstanceLock running(InstanceLock::PathFor(app.DataFilePath()));
    running.Take(InstanceLock::Kind::Shared, std::chrono::seconds(2));
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
                         // A signal ends the program like "E&xit Now", without a question.
                         ExitSignals exitSignals;
                         QObject::connect(&exitSignals, &ExitSignals::received, &window,
                                          [&window] { window.ExitNowWithoutQuestion(); });
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
                     [&](COrvaneApp& app, TelnetService& server, ActivityLog& log, ServerParts&,
                         LinuxStartupPlatform&) {
                         // Nobody could answer the first-run prompt: say how to add a user.
                         if (app.Users().count <= 0 && !::isatty(STDIN_FILENO))
                             messages.Show(QString::fromLatin1(kAddUserHintText),
                                           MessageIcon::Information);
                         ConsoleRunner runner(server, log, messages);
                         return runner.Run();
                     });
}

void Print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
}

// The user commands need the program's path for the database, and nothing else of Qt's.
int RunUserCommandLine(char* programName, const CommandLine& line) {
    int argc = 1;
    char* argv[] = {programName, nullptr};
    QCoreApplication qapp(argc, argv);
    const FileLocations locations =
        FileLocations::ForProgram(QCoreApplication::applicationFilePath());
    return RunUserCommand(line, locations.DataFilePath());
}

}  // namespace

int main(int argc, char** argv) {
    using namespace orvane;
    // Before any socket or pipe exists: a gone peer or interpreter is EPIPE, not the end.
    IgnoreBrokenPipeSignal();

    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = ParseCommandLine(arguments);
    switch (line.action) {
        case CommandAction::ShowHelp:
            Print(stdout, HelpText());
            return kExitOk;
        case CommandAction::ShowVersion:
            Print(stdout, VersionText());
            return kExitOk;
        case CommandAction::UsageError:
            Print(stderr, UsageText(line.error));
            return kExitUsage;
        case CommandAction::RunServer:
            break;
        default:
            return RunUserCommandLine(argv[0], line);
    }

    const FrontEndChoice frontEnd = ChooseFrontEnd(line.console, arguments);
    if (!frontEnd.note.isEmpty()) Print(stderr, QStringLiteral("Orvane: %1\n").arg(frontEnd.note));
    return frontEnd.console ? RunConsole(argc, argv) : RunWindowed(argc, argv);
}
