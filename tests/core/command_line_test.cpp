// The command line: what each run is asked to do, and what is refused with a usage.
#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace orvane {
namespace {

CommandLine Parse(const QStringList& arguments) {
    return ParseCommandLine(arguments);
}

TEST(CommandLine, HelpAndVersionAnswerWithoutStartingTheServer) {
    EXPECT_EQ(Parse({QStringLiteral("--help")}).action, CommandAction::ShowHelp);
    EXPECT_EQ(Parse({QStringLiteral("-h")}).action, CommandAction::ShowHelp);
    EXPECT_EQ(Parse({QStringLiteral("--version")}).action, CommandAction::ShowVersion);
    // They answer whatever follows them.
    EXPECT_EQ(
        Parse({QStringLiteral("--console"), QStringLiteral("--help"), QStringLiteral("--bogus")})
            .action,
        CommandAction::ShowHelp);
    EXPECT_TRUE(VersionText().startsWith(QStringLiteral("Orvane 1.5")));
    for (const char* option : {"--console", "--list-users", "--add-user", "--dos", "--shutdown",
                               "--greeting", "--set-password", "--delete-user", "--version"})
        EXPECT_TRUE(HelpText().contains(QLatin1String(option))) << option;
}

TEST(CommandLine, TheServerKeepsTheAutomationSwitchesAndQtsOwnOptions) {
    for (const QStringList& arguments : QList<QStringList>{
             {},
             {QStringLiteral("-Automation")},
             {QStringLiteral("/embedding")},
             {QStringLiteral("-platform"), QStringLiteral("offscreen")},
             {QStringLiteral("--platform=xcb")},
             {QStringLiteral("-style"), QStringLiteral("Fusion"), QStringLiteral("-reverse")},
             {QStringLiteral("-display"), QStringLiteral(":1"), QStringLiteral("-Embedding")},
         }) {
        const CommandLine line = Parse(arguments);
        EXPECT_EQ(line.action, CommandAction::RunServer) << arguments.join(' ').toStdString();
        EXPECT_FALSE(line.console);
    }
    const CommandLine console = Parse({QStringLiteral("--console"), QStringLiteral("-Automation")});
    EXPECT_EQ(console.action, CommandAction::RunServer);
    EXPECT_TRUE(console.console);
}

TEST(CommandLine, UserCommandsCarryTheNameRightsAndGreeting) {
    CommandLine add =
        Parse({QStringLiteral("--add-user"), QStringLiteral("bob"), QStringLiteral("--dos"),
               QStringLiteral("--greeting"), QStringLiteral("Hello\nthere")});
    EXPECT_EQ(add.action, CommandAction::AddUser);
    EXPECT_EQ(add.userName, QStringLiteral("bob"));
    EXPECT_TRUE(add.canUseDos);
    EXPECT_FALSE(add.canShutdown);
    EXPECT_EQ(add.greeting, QStringLiteral("Hello\nthere"));

    add = Parse({QStringLiteral("--shutdown"), QStringLiteral("--add-user=Ann Lee")});
    EXPECT_EQ(add.action, CommandAction::AddUser);
    EXPECT_EQ(add.userName, QStringLiteral("Ann Lee"));
    EXPECT_TRUE(add.canShutdown);

    // A name may look like an option: it is the value of the command before it.
    const CommandLine set = Parse({QStringLiteral("--set-password"), QStringLiteral("-h")});
    EXPECT_EQ(set.action, CommandAction::SetPassword);
    EXPECT_EQ(set.userName, QStringLiteral("-h"));
    EXPECT_EQ(Parse({QStringLiteral("--delete-user"), QStringLiteral("x")}).action,
              CommandAction::DeleteUser);
    EXPECT_EQ(Parse({QStringLiteral("--list-users")}).action, CommandAction::ListUsers);
}

TEST(CommandLine, WrongArgumentsGiveAUsageNamingTheProblem) {
    const QList<std::pair<QStringList, QString>> cases = {
        {{QStringLiteral("--bogus")}, QStringLiteral("unknown option --bogus")},
        {{QStringLiteral("-x")}, QStringLiteral("unknown option -x")},
        {{QStringLiteral("--console=yes")}, QStringLiteral("unknown option --console=yes")},
        {{QStringLiteral("stray")}, QStringLiteral("unexpected argument stray")},
        {{QStringLiteral("--add-user")}, QStringLiteral("--add-user needs a user name")},
        {{QStringLiteral("--add-user"), QStringLiteral("a"), QStringLiteral("--greeting")},
         QStringLiteral("--greeting needs a text")},
        {{QStringLiteral("--list-users"), QStringLiteral("--delete-user"), QStringLiteral("a")},
         QStringLiteral("only one user command at a time")},
        {{QStringLiteral("--dos")}, QStringLiteral("--dos goes with --add-user")},
        {{QStringLiteral("--set-password"), QStringLiteral("a"), QStringLiteral("--shutdown")},
         QStringLiteral("--shutdown goes with --add-user")},
        {{QStringLiteral("--console"), QStringLiteral("--list-users")},
         QStringLiteral("--console does not go with the user commands")},
        {{QStringLiteral("-platform")}, QStringLiteral("-platform needs a value")},
    };
    for (const auto& [arguments, error] : cases) {
        const CommandLine line = Parse(arguments);
        EXPECT_EQ(line.action, CommandAction::UsageError) << arguments.join(' ').toStdString();
        EXPECT_EQ(line.error, error);
    }
    const QString usage = UsageText(QStringLiteral("unknown option --bogus"));
    EXPECT_TRUE(usage.startsWith(QStringLiteral("orvane: unknown option --bogus\nUsage: orvane")));
    EXPECT_LE(usage.count(QLatin1Char('\n')), 5);
}

}  // namespace
}  // namespace orvane
