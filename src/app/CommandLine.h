// The program's own command line: what a run is asked to do, decided before Qt starts.
#pragma once

#include <QString>
#include <QStringList>

namespace orvane {

enum class CommandAction {
    RunServer,    // the window, or the console server
    ShowHelp,     // --help, -h
    ShowVersion,  // --version
    ListUsers,    // --list-users
    AddUser,      // --add-user NAME [--dos] [--shutdown] [--greeting TEXT]
    SetPassword,  // --set-password NAME
    DeleteUser,   // --delete-user NAME
    UsageError,   // anything else: a short usage on standard error, exit status 2
};

struct CommandLine {
    CommandAction action = CommandAction::RunServer;
    // --console: the console server even where a display is set.
    bool console = false;
    // The user the user commands name, and the rights and greeting of --add-user.
    QString userName;
    bool canUseDos = false;
    bool canShutdown = false;
    QString greeting;
    // For UsageError: what was wrong, in one line.
    QString error;
};

// Exit statuses of the runs that do not start the server.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Reads the arguments after the program name. The automation switches (-Automation,
// -Embedding, also written with '/') and Qt's own options (-platform NAME, -style NAME,
// -reverse, ...) are left for those that read them; every other argument must be one of ours.
// --help and --version answer at once, whatever follows them.
CommandLine ParseCommandLine(const QStringList& arguments);

// True when the run is one of the user commands, which work on the database and end.
bool IsUserCommand(CommandAction action);

// The texts printed for --help and --version, and the short usage after a wrong argument.
QString HelpText();
QString VersionText();
QString UsageText(const QString& error);

}  // namespace orvane
