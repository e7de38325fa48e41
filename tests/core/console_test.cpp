// Console mode: when it is chosen, and the administration account asked for on a terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QMap>

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
