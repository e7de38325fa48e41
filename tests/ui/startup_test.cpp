// Start-up: its order, its messages, and that the window comes up whatever the users.
#include "app/Startup.h"

#include <QFile>
#include <QStringList>

#include "WindowFixture.h"
#include "users/UserDatabase.h"

namespace orvane::test {
namespace {

class RecordingPlatform final : public StartupPlatform {
public:
    explicit RecordingPlatform(QStringList& steps) : m_steps(steps) {}
    bool StartSockets() override {
        m_steps << QStringLiteral("sockets");
        return socketsWork;
    }
    bool StartComponentRuntime() override {
        m_steps << QStringLiteral("runtime");
        return runtimeWorks;
    }
    void RegisterAutomation(COrvaneApp&) override { m_steps << QStringLiteral("automation"); }
    bool socketsWork = true;
    bool runtimeWorks = true;

private:
    QStringList& m_steps;
};

class ScriptedAdminPrompt final : public AdminAccountPrompt {
public:
    explicit ScriptedAdminPrompt(QStringList& steps) : m_steps(steps) {}
    bool AskForAdminAccount(UserRecord& record) override {
        m_steps << QStringLiteral("admin dialog");
        if (!confirm) return false;
        record = UserRecord{};
        record.canLogin = record.canUseDos = record.canShutdown = 1;
        CopyText(record.name, kNameSize, "Administrator", 126);
        return true;
    }
    bool confirm = false;

private:
    QStringList& m_steps;
};

class Startup_ : public WindowFixture {
protected:
    QStringList steps;
    RecordingPlatform platform{steps};
    ScriptedAdminPrompt prompt{steps};

    // The main window's run: comes up, is seen, and ends by Escape.
    int RunWindow() {
        steps << QStringLiteral("window");
        COrvaneDlg& window = Window(false);
        window.show();
        windowCameUp = window.isVisible();
        window.reject();
        return 0;
    }
    bool windowCameUp = false;
};

TEST_F(Startup_, FailingSocketsEndTheProgramBeforeTheUserFileIsRead) {
    // A file that would cause a loading message if it were read.
    QFile file(app.DataFilePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\x07\x00\x00\x00", 4));
    file.close();
    platform.socketsWork = false;

    Startup startup(app, platform, prompt);
    EXPECT_EQ(startup.Run([this] { return RunWindow(); }), 1);
    EXPECT_EQ(steps, QStringList{QStringLiteral("sockets")});
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, QStringLiteral("Windows sockets initialization failed."));
    EXPECT_EQ(messages.shown[0].buttons, MessageButtons::Ok);
    EXPECT_FALSE(windowCameUp);
}

TEST_F(Startup_, CancellingTheFirstAccountWarnsThatNobodyCanLogInAndTheWindowStillComesUp) {
    Startup startup(app, platform, prompt);
    EXPECT_EQ(startup.Run([this] { return RunWindow(); }), 0);
    EXPECT_EQ(steps, (QStringList{QStringLiteral("sockets"), QStringLiteral("runtime"),
                                  QStringLiteral("admin dialog"), QStringLiteral("automation"),
                                  QStringLiteral("window")}));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text,
              QStringLiteral("No users are defined. Nobody can log in to the server."));
    EXPECT_TRUE(windowCameUp);
    EXPECT_EQ(app.Users().count, 0);
}

TEST_F(Startup_, AConfirmedFirstAccountIsSavedAndNoWarningFollows) {
    prompt.confirm = true;
    Startup startup(app, platform, prompt);
    EXPECT_EQ(startup.Run([this] { return RunWindow(); }), 0);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(app.Users().count, 1);
    EXPECT_TRUE(QFile::exists(app.DataFilePath()));
    EXPECT_TRUE(windowCameUp);
}

TEST_F(Startup_, NoSessionBusMeansNoAutomationButTheProgramRunsOn) {
    platform.runtimeWorks = false;
    prompt.confirm = true;
    Startup startup(app, platform, prompt);
    EXPECT_EQ(startup.Run([this] { return RunWindow(); }), 0);
    EXPECT_FALSE(startup.ComponentRuntimeAvailable());
    EXPECT_FALSE(steps.contains(QStringLiteral("automation")));
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(windowCameUp);
}

}  // namespace
}  // namespace orvane::test
