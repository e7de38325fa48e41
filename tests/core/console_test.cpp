// Console mode: when it is chosen, and the administration account asked for on a terminal.
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QMap>
#include <thread>

#include "app/ConsoleAdminPrompt.h"
#include "app/ConsoleMode.h"
#include "users/UserEditing.h"

namespace orvane {
namespace {

bool Console(const QStringList& arguments, const QMap<QByteArray, QByteArray>& environment) {
    return WantsConsoleMode(arguments, [&](const char* name) { return environment.value(name); });
}

TEST(ConsoleMode, IsChosenOnlyWithoutDisplayAndWithoutAPlatformRequest) {
    EXPECT_TRUE(Console({}, {}));
    EXPECT_TRUE(Console({}, {{"DISPLAY", ""}}));
    EXPECT_FALSE(Console({}, {{"DISPLAY", ":0"}}));
    EXPECT_FALSE(Console({}, {{"WAYLAND_DISPLAY", "wayland-0"}}));
    EXPECT_FALSE(Console({}, {{"QT_QPA_PLATFORM", "offscreen"}}));
    EXPECT_FALSE(Console({QStringLiteral("-platform"), QStringLiteral("offscreen")}, {}));
    EXPECT_FALSE(Console({QStringLiteral("--platform=xcb")}, {}));
}

// Each front-end choice with a scripted environment, X display and Wayland support.
struct Display {
    QMap<QByteArray, QByteArray> environment;
    bool xAnswers = false;
    bool wayland = false;
    int probes = 0;

    FrontEndChoice Choose(bool consoleAsked, const QStringList& arguments = {}) {
        return ChooseFrontEnd(consoleAsked, arguments,
                              {[this](const char* name) { return environment.value(name); },
                               [this](const QByteArray&) {
                                   ++probes;
                                   return xAnswers ? DisplayProbeResult{true, {}}
                                                   : DisplayProbeResult{
                                                         false, QStringLiteral("no answer")};
                               },
                               [this] { return wayland; }});
    }
};

TEST(ConsoleMode, AStaleDisplayFallsBackToTheConsoleWithOneLineSayingSo) {
    Display stale{{{"DISPLAY", ":7"}}};
    FrontEndChoice choice = stale.Choose(false);
    EXPECT_TRUE(choice.console);
    EXPECT_EQ(choice.note,
              QStringLiteral("Cannot open the display \":7\" (no answer); running as a "
                             "console server."));

    Display working{{{"DISPLAY", ":0"}}, true};
    choice = working.Choose(false);
    EXPECT_FALSE(choice.console);
    EXPECT_TRUE(choice.note.isEmpty());

    // --console wins over a display that works, without probing it.
    choice = working.Choose(true);
    EXPECT_TRUE(choice.console);
    EXPECT_EQ(working.probes, 1);

    // A platform asked for by name is Qt's business; no probe.
    Display named{{{"DISPLAY", ":7"}, {"QT_QPA_PLATFORM", "offscreen"}}};
    EXPECT_FALSE(named.Choose(false).console);
    EXPECT_FALSE(
        stale.Choose(false, {QStringLiteral("-platform"), QStringLiteral("offscreen")}).console);
    EXPECT_EQ(named.probes, 0);

    // Wayland alone needs Qt's support for it.
    Display wayland{{{"WAYLAND_DISPLAY", "wayland-0"}}};
    EXPECT_TRUE(wayland.Choose(false).console);
    EXPECT_TRUE(wayland.Choose(false).note.contains(QStringLiteral("WAYLAND_DISPLAY")));
    wayland.wayland = true;
    EXPECT_FALSE(wayland.Choose(false).console);
    wayland.environment.insert("DISPLAY", ":7");  // a dead X display beside a working Wayland
    EXPECT_FALSE(wayland.Choose(false).console);

    // No display at all: the console, with nothing to explain.
    Display none;
    EXPECT_TRUE(none.Choose(false).console);
    EXPECT_TRUE(none.Choose(false).note.isEmpty());
}

TEST(ConsoleAdminPrompt, IsCancelledWhenTheInputIsNoTerminal) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "secret\n", 7), 7);
    std::FILE* sink = std::tmpfile();
    ConsoleAdminPrompt prompt(fds[0], sink);
    UserRecord record;
    EXPECT_FALSE(prompt.AskForAdminAccount(record));
    EXPECT_EQ(record.name[0], '\0');
    std::fclose(sink);
    close(fds[0]);
    close(fds[1]);
}

TEST(ConsoleAdminPrompt, AnEmptyPasswordIsRefusedAndAskedForAgain) {
    int master = -1;
    int terminal = -1;
    ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
    // Typed once the prompt has turned echo off (it drops whatever was typed before).
    std::thread typist([master, terminal] {
        for (int i = 0; i < 1000; ++i) {
            termios mode{};
            if (tcgetattr(terminal, &mode) == 0 && !(mode.c_lflag & ECHO)) break;
            usleep(10'000);
        }
        [[maybe_unused]] const ssize_t n = write(master, "\n\nsecret\n", 10);
    });
    std::FILE* shown = std::tmpfile();
    ConsoleAdminPrompt prompt(terminal, shown);
    UserRecord record;
    const bool answered = prompt.AskForAdminAccount(record);
    typist.join();
    ASSERT_TRUE(answered);
    EXPECT_STREQ(record.password, "secret");
    std::rewind(shown);
    char text[1024] = {};
    const size_t length = std::fread(text, 1, sizeof text - 1, shown);
    const QByteArray output(text, static_cast<int>(length));
    EXPECT_EQ(output.count("The password must not be empty.\nPassword : "), 2) << text;
    std::fclose(shown);
    close(master);
    close(terminal);
}

TEST(ConsoleAdminPrompt, MakesAnAdministratorWithAllRightsAndTexts126Long) {
    const UserRecord record = AdminAccountRecord("Administrator", QByteArray(200, 'p'));
    EXPECT_STREQ(record.name, "Administrator");
    EXPECT_EQ(std::strlen(record.password), 126u);
    EXPECT_EQ(record.canLogin, 1);
    EXPECT_EQ(record.canUseDos, 1);
    EXPECT_EQ(record.canShutdown, 1);
    EXPECT_EQ(record.greeting[0], '\0');
}

TEST(ConsoleAdminPrompt, APasswordCutAt126BytesKeepsWholeCharacters) {
    // 125 bytes and a two-byte character: the character no longer fits and goes whole.
    const QByteArray typed = QByteArray(125, 'p') + "\xc3\xa9" + "tail";
    const UserRecord record = AdminAccountRecord("Administrator", typed);
    EXPECT_EQ(QByteArray(record.password), QByteArray(125, 'p'));
}

}  // namespace
}  // namespace orvane
