// Parsing the command line: our options, the automation switches and Qt's own options.
#include "app/CommandLine.h"

#include <array>

#include "Version.h"

namespace orvane {

namespace {

// Qt reads these itself, with one dash or two, the value following or after '='.
constexpr std::array kQtOptionsWithValue = {
    "platform",    "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "display", "geometry",
    "style",       "stylesheet",         "title",         "name",    "qmljsdebugger",
    "dialogs",     "fontengine",
};
constexpr std::array kQtFlags = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// The option's name without its dashes, or an empty text when it is no dashed option.
QString OptionName(const QString& argument) {
    if (argument.startsWith(QLatin1String("--"))) return argument.mid(2);
    if (argument.startsWith(QLatin1Char('-'))) return argument.mid(1);
    return {};
}

bool IsAutomationSwitch(const QString& argument) {
    if (argument.size() < 2) return false;
    if (argument[0] != QLatin1Char('-') && argument[0] != QLatin1Char('/')) return false;
    const QString name = argument.mid(1);
    return name.compare(QLatin1String("Automation"), Qt::CaseInsensitive) == 0 ||
           name.compare(QLatin1String("Embedding"), Qt::CaseInsensitive) == 0;
}

template <size_t N>
bool IsOneOf(const QString& name, const std::array<const char*, N>& names) {
    for (const char* candidate : names) {
        if (name == QLatin1String(candidate)) return true;
    }
    return false;
}

// How many arguments a Qt option takes from the list (itself included), or 0 when the
// argument is none of Qt's.
int QtOptionLength(const QString& argument) {
    const QString name = OptionName(argument);
    if (name.isEmpty()) return 0;
    const qsizetype equals = name.indexOf(QLatin1Char('='));
    if (equals > 0) return IsOneOf(name.left(equals), kQtOptionsWithValue) ? 1 : 0;
    if (IsOneOf(name, kQtOptionsWithValue)) return 2;
    return IsOneOf(name, kQtFlags) ? 1 : 0;
}

CommandLine Error(const QString& text) {
    CommandLine line;
    line.action = CommandAction::UsageError;
    line.error = text;
    return line;
}

CommandLine Answer(CommandAction action) {
    CommandLine line;
    line.action = action;
    return line;
}

}  // namespace

bool IsUserCommand(CommandAction action) {
    return action == CommandAction::ListUsers || action == CommandAction::AddUser ||
           action == CommandAction::SetPassword || action == CommandAction::DeleteUser;
}

CommandLine ParseCommandLine(const QStringList& arguments) {
    CommandLine line;
    bool addUserOptionSeen = false;
    QString addUserOption;  // the first of --dos, --shutdown, --greeting, for the error

    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            return Answer(CommandAction::ShowHelp);
        if (argument == QLatin1String("--version")) return Answer(CommandAction::ShowVersion);
        if (IsAutomationSwitch(argument)) continue;
        if (const int length = QtOptionLength(argument); length > 0) {
            if (i + length > arguments.size())
                return Error(QStringLiteral("%1 needs a value").arg(argument));
            i += length - 1;
            continue;
        }

        // Our own options with a value take it from the next argument or after '='.
        QString option = argument;
        QString value;
        bool hasValue = false;
        if (argument.startsWith(QLatin1String("--"))) {
            const qsizetype equals = argument.indexOf(QLatin1Char('='));
            if (equals > 0) {
                option = argument.left(equals);
                value = argument.mid(equals + 1);
                hasValue = true;
            }
        }
        auto takeValue = [&](const char* what) {
            if (hasValue) return true;
            if (i + 1 >= arguments.size()) {
                line = Error(QStringLiteral("%1 needs %2").arg(option, QLatin1String(what)));
                return false;
            }
            value = arguments[++i];
            return true;
        };
        auto setCommand = [&](CommandAction action) {
            if (line.action != CommandAction::RunServer) {
                line = Error(QStringLiteral("only one user command at a time"));
                return false;
            }
            line.action = action;
            return true;
        };
        auto userCommand = [&](CommandAction action) {
            if (!takeValue("a user name") || !setCommand(action)) return false;
            line.userName = value;
            return true;
        };

        if (option == QLatin1String("--console") && !hasValue) {
            line.console = true;
        } else if (option == QLatin1String("--list-users") && !hasValue) {
            if (!setCommand(CommandAction::ListUsers)) return line;
        } else if (option == QLatin1String("--add-user")) {
            if (!userCommand(CommandAction::AddUser)) return line;
        } else if (option == QLatin1String("--set-password")) {
            if (!userCommand(CommandAction::SetPassword)) return line;
        } else if (option == QLatin1String("--delete-user")) {
            if (!userCommand(CommandAction::DeleteUser)) return line;
        } else if ((option == QLatin1String("--dos") || option == QLatin1String("--shutdown")) &&
                   !hasValue) {
            (option == QLatin1String("--dos") ? line.canUseDos : line.canShutdown) = true;
            if (!addUserOptionSeen) addUserOption = option;
            addUserOptionSeen = true;
        } else if (option == QLatin1String("--greeting")) {
            if (!takeValue("a text")) return line;
            line.greeting = value;
            if (!addUserOptionSeen) addUserOption = option;
            addUserOptionSeen = true;
        } else if (argument.startsWith(QLatin1Char('-'))) {
            return Error(QStringLiteral("unknown option %1").arg(argument));
        } else {
            return Error(QStringLiteral("unexpected argument %1").arg(argument));
        }
    }

    if (addUserOptionSeen && line.action != CommandAction::AddUser)
        return Error(QStringLiteral("%1 goes with --add-user").arg(addUserOption));
    if (line.console && IsUserCommand(line.action))
        return Error(QStringLiteral("--console does not go with the user commands"));
    return line;
}

QString HelpText() {
    return QStringLiteral(
        "Usage: orvane [--console] [Qt options]\n"
        "       orvane --list-users\n"
        "       orvane --add-user NAME [--dos] [--shutdown] [--greeting TEXT]\n"
        "       orvane --set-password NAME\n"
        "       orvane --delete-user NAME\n"
        "\n"
        "A small Telnet server for this machine. Without options it opens its window, or runs\n"
        "as a console server where there is no display.\n"
        "\n"
        "  --console             serve without windows, even where a display is set\n"
        "  --list-users          list the users and their rights\n"
        "  --add-user NAME       add a user who may log in; the password is asked for\n"
        "    --dos               the user may use the dos command\n"
        "    --shutdown          the user may use the reboot and shutdown commands\n"
        "    --greeting TEXT     the user is greeted with TEXT after logging in\n"
        "  --set-password NAME   change a user's password\n"
        "  --delete-user NAME    delete a user\n"
        "  -h, --help            show this help and exit\n"
        "  --version             show the version and exit\n"
        "\n"
        "Names are matched as at login, ignoring letter case. A password is read twice\n"
        "without echo from a terminal, or as one line from standard input. Users cannot be\n"
        "changed while Orvane is running. Qt's own options (-platform NAME, -style NAME, ...)\n"
        "are passed on to Qt. See orvane(1).\n");
}

QString VersionText() {
    return QStringLiteral("Orvane %1\n").arg(QLatin1String(kVersionText));
}

QString UsageText(const QString& error) {
    return QStringLiteral(
               "orvane: %1\n"
               "Usage: orvane [--console] | --list-users | --add-user NAME [--dos] [--shutdown]\n"
               "       [--greeting TEXT] | --set-password NAME | --delete-user NAME | --help |\n"
               "       --version\n")
        .arg(error);
}

}  // namespace orvane
