// Users managed from the command line: every answer and exit status, the password from
// standard input or a terminal, names in any letter case, and the lock of a running server.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "FakeMessageBox.h"
#include "TestEnvironment.h"
#include "TestUsers.h"
#include "app/CommandLine.h"
#include "app/UserCommands.h"
#include "platform/InstanceLock.h"
#include "users/UserDatabase.h"
#include "users/UserMatching.h"

namespace orvane {
namespace {

using namespace std::chrono_literals;

const QString kRunning = QString::fromUtf8(
    "Orvane is running: change users in Configure... \u2192 Users, or stop it first.\n");

QString ReadBack(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    QByteArray bytes;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    return QString::fromUtf8(bytes);
}

// One command run: its standard input, what it printed and its exit status.
struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

class UserCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_database = test::MakeTempDir(QStringLiteral("users")) + QStringLiteral("/ORVANE.DAT");
    }

    Outcome Run(const QStringList& arguments, const QByteArray& input = {}, int inputFd = -1) {
        const CommandLine line = ParseCommandLine(arguments);
        EXPECT_TRUE(IsUserCommand(line.action)) << line.error.toStdString();
        int pipeFds[2] = {-1, -1};
        if (inputFd < 0) {
            EXPECT_EQ(::pipe(pipeFds), 0);
            EXPECT_EQ(::write(pipeFds[1], input.constData(), input.size()), input.size());
            ::close(pipeFds[1]);
            inputFd = pipeFds[0];
        }
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        Outcome outcome;
        outcome.status = RunUserCommand(line, m_database, {inputFd, out, err});
        outcome.out = ReadBack(out);
        outcome.err = ReadBack(err);
        std::fclose(out);
        std::fclose(err);
        if (pipeFds[0] >= 0) ::close(pipeFds[0]);
        return outcome;
    }

    std::unique_ptr<UserTable> Load() {
        auto table = std::make_unique<UserTable>();
        test::FakeMessageBox messages;
        UserDatabase(m_database, messages).Load(*table);
        EXPECT_TRUE(messages.shown.empty());
        return table;
    }

    void Save(const UserTable& table) {
        test::FakeMessageBox messages;
        ASSERT_TRUE(UserDatabase(m_database, messages).Save(table));
    }

    QByteArray FileBytes() {
        QFile file(m_database);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QString m_database;
};

TEST_F(UserCommandsTest, AUserAddedWithAPasswordOnStandardInputCanLogIn) {
    const Outcome added =
        Run({QStringLiteral("--add-user"), QStringLiteral("Ann"), QStringLiteral("--dos"),
             QStringLiteral("--greeting"), QStringLiteral("Hello\nthere")},
            "s3cret\n");
    EXPECT_EQ(added.status, 0);
    EXPECT_EQ(added.out, QStringLiteral("Added user \"Ann\".\n"));
    EXPECT_EQ(added.err, QString());

    const auto table = Load();
    ASSERT_EQ(table->count, 1);
    const UserRecord& record = table->records[0];
    EXPECT_EQ(record.canLogin, 1);
    EXPECT_EQ(record.canUseDos, 1);
    EXPECT_EQ(record.canShutdown, 0);
    EXPECT_STREQ(record.greeting, "Hello\r\nthere");
    EXPECT_EQ(FindLoginRecord(*table, "ann", "S3CRET"), 0);

    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(m_database).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    // UTF-8 texts are stored as they are, and a second user is appended.
    EXPECT_EQ(Run({QStringLiteral("--add-user"), QStringLiteral("Jürgen")}, "pässword\r\n").status,
              0);
    const auto two = Load();
    ASSERT_EQ(two->count, 2);
    EXPECT_STREQ(two->records[1].name, "J\xC3\xBCrgen");
    EXPECT_STREQ(two->records[1].password, "p\xC3\xA4ssword");
    EXPECT_EQ(two->records[1].canUseDos, 0);
}

TEST_F(UserCommandsTest, TheListShowsNamesAndRightsButNeverPasswords) {
    Outcome empty = Run({QStringLiteral("--list-users")});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out,
              QStringLiteral("No users are defined. Nobody can log in to the server.\n"));

    UserTable table;
    test::AppendUser(table, test::MakeUser("Administrator", "topsecret"));
    test::AppendUser(table, test::MakeUser("guest", "guestword", 1, 0, 0, "Hi"));
    test::AppendUser(table, test::MakeUser("\x1b[2Jlocked", "lockedword", 0, 0, 0));
    Save(table);

    const Outcome listed = Run({QStringLiteral("--list-users")});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, QStringLiteral("Administrator  login, dos, shutdown\n"
                                         "guest          login, greeting\n"
                                         "\\x1b[2Jlocked  -\n"));
    EXPECT_FALSE(listed.out.contains(QStringLiteral("word")));
    EXPECT_FALSE(listed.out.contains(QStringLiteral("secret")));
}

TEST_F(UserCommandsTest, NamesAreMatchedAsAtLoginIgnoringLetterCase) {
    UserTable table;
    test::AppendUser(table, test::MakeUser("alice", "old"));
    test::AppendUser(table, test::MakeUser("bob", "bobs"));
    test::AppendUser(table, test::MakeUser("carol", "carols"));
    Save(table);

    const Outcome taken = Run({QStringLiteral("--add-user"), QStringLiteral("ALICE")}, "x\n");
    EXPECT_EQ(taken.status, 1);
    EXPECT_EQ(taken.err, QStringLiteral("A user with that name already exists.\n"));

    const Outcome changed =
        Run({QStringLiteral("--set-password"), QStringLiteral("Alice")}, "new\n");
    EXPECT_EQ(changed.status, 0);
    EXPECT_EQ(changed.out, QStringLiteral("Changed the password of \"alice\".\n"));
    EXPECT_EQ(FindLoginRecord(*Load(), "alice", "new"), 0);
    EXPECT_EQ(FindLoginRecord(*Load(), "alice", "old"), -1);

    // Deleting moves the last user into the freed slot, as the Users page does.
    const Outcome deleted = Run({QStringLiteral("--delete-user"), QStringLiteral("ALICE")});
    EXPECT_EQ(deleted.status, 0);
    EXPECT_EQ(deleted.out, QStringLiteral("Deleted user \"alice\".\n"));
    const auto left = Load();
    ASSERT_EQ(left->count, 2);
    EXPECT_STREQ(left->records[0].name, "carol");
    EXPECT_STREQ(left->records[1].name, "bob");
    EXPECT_EQ(left->records[2].name[0], '\0');
}

TEST_F(UserCommandsTest, RefusalsSayWhyExitWithOneAndChangeNothing) {
    UserTable table;
    test::AppendUser(table, test::MakeUser("alice", "old"));
    Save(table);
    const QByteArray before = FileBytes();

    const QByteArray longText(128, 'n');
    const QList<std::tuple<QStringList, QByteArray, QString>> cases = {
        {{QStringLiteral("--add-user"), QStringLiteral("bob")},
         "\n",
         QStringLiteral("The password must not be empty.\n")},
        {{QStringLiteral("--set-password"), QStringLiteral("alice")},
         "\r\n",
         QStringLiteral("The password must not be empty.\n")},
        {{QStringLiteral("--add-user"), QStringLiteral("bob")},
         "",
         QStringLiteral("No password was given.\n")},
        {{QStringLiteral("--add-user"), QStringLiteral("bob")},
         longText + "\n",
         QStringLiteral("The password must be at most 127 bytes long.\n")},
        {{QStringLiteral("--add-user"), QStringLiteral("bob")},
         "caf\xE9\n",
         QStringLiteral("The password must be UTF-8 text.\n")},
        {{QStringLiteral("--add-user"), QString::fromLatin1(longText)},
         "pw\n",
         QStringLiteral("The user name must be at most 127 bytes long.\n")},
        {{QStringLiteral("--add-user"), QString()},
         "pw\n",
         QStringLiteral("The user name must not be empty.\n")},
        {{QStringLiteral("--add-user"), QStringLiteral("a\tb")},
         "pw\n",
         QStringLiteral("The user name must not contain control characters.\n")},
        {{QStringLiteral("--add-user"), QStringLiteral("bob"), QStringLiteral("--greeting"),
          QString(499, QLatin1Char('g'))},
         "pw\n",
         QStringLiteral("The greeting must be at most 498 bytes long.\n")},
        {{QStringLiteral("--set-password"), QStringLiteral("nobody")},
         "pw\n",
         QStringLiteral("There is no user named \"nobody\".\n")},
        {{QStringLiteral("--delete-user"), QStringLiteral("nobody")},
         "",
         QStringLiteral("There is no user named \"nobody\".\n")},
    };
    for (const auto& [arguments, input, message] : cases) {
        const Outcome outcome = Run(arguments, input);
        EXPECT_EQ(outcome.status, 1) << arguments.join(' ').toStdString();
        EXPECT_EQ(outcome.err, message) << arguments.join(' ').toStdString();
        EXPECT_EQ(outcome.out, QString());
        EXPECT_EQ(FileBytes(), before);
    }

    // The table holds 99 users at most.
    UserTable full;
    for (int i = 0; i < kMaxUsers; ++i)
        test::AppendUser(full, test::MakeUser(QByteArray::number(i).constData(), "pw"));
    Save(full);
    const Outcome tooMany = Run({QStringLiteral("--add-user"), QStringLiteral("one-more")}, "pw\n");
    EXPECT_EQ(tooMany.status, 1);
    EXPECT_EQ(tooMany.err, QStringLiteral("You cannot define any more users.\n"));
}

TEST_F(UserCommandsTest, ADatabaseThatCannotBeReadIsKeptAsideBeforeTheChangeIsSaved) {
    QFile file(m_database);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\x07\x00\x01\x00\x00\x00", 6) + QByteArray(100, 'x'));
    file.close();
    const QByteArray before = FileBytes();

    const Outcome outcome = Run({QStringLiteral("--add-user"), QStringLiteral("bob")}, "pw\n");
    EXPECT_EQ(outcome.status, 0);
    // The database's own message, once, although the file is read before and after the
    // password.
    EXPECT_EQ(outcome.err.count(QStringLiteral("Error : User database version does not match")), 1);
    QFile kept(m_database + QStringLiteral(".unreadable"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), before);
    EXPECT_EQ(FindLoginRecord(*Load(), "bob", "pw"), 0);
}

TEST_F(UserCommandsTest, ChangesAreRefusedWhileARunningOrvaneHoldsTheLock) {
    UserTable table;
    test::AppendUser(table, test::MakeUser("alice", "old"));
    Save(table);
    const QByteArray before = FileBytes();

    InstanceLock server(InstanceLock::PathFor(m_database));
    ASSERT_EQ(server.Take(InstanceLock::Kind::Shared), InstanceLock::Result::Held);
    for (const QStringList& arguments :
         QList<QStringList>{{QStringLiteral("--add-user"), QStringLiteral("bob")},
                            {QStringLiteral("--set-password"), QStringLiteral("alice")},
                            {QStringLiteral("--delete-user"), QStringLiteral("alice")}}) {
        const Outcome outcome = Run(arguments, "pw\n");
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err, kRunning);
        EXPECT_EQ(FileBytes(), before);
    }
    // Reading is harmless: the running server replaces the file whole when it saves.
    EXPECT_EQ(Run({QStringLiteral("--list-users")}).status, 0);

    // A second server shares the lock; a change waits for neither and is refused.
    InstanceLock second(InstanceLock::PathFor(m_database));
    EXPECT_EQ(second.Take(InstanceLock::Kind::Shared), InstanceLock::Result::Held);
    InstanceLock edit(InstanceLock::PathFor(m_database));
    EXPECT_EQ(edit.Take(InstanceLock::Kind::Exclusive, 100ms), InstanceLock::Result::Busy);

    server.Release();
    second.Release();
    EXPECT_EQ(Run({QStringLiteral("--add-user"), QStringLiteral("bob")}, "pw\n").status, 0);
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(InstanceLock::PathFor(m_database)).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(UserCommandsTest, ATerminalAsksTwiceWithoutEchoAndAgainAfterAMistype) {
    int master = -1;
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    // The typist waits until the echo is off, then types both tries at once: the mistyped
    // pair first, then the right one.
    std::thread typist([&] {
        for (int i = 0; i < 1000; ++i) {
            termios mode{};
            if (::tcgetattr(slave, &mode) == 0 && !(mode.c_lflag & ECHO)) break;
            std::this_thread::sleep_for(10ms);
        }
        const char typed[] = "first\nFirst\nsecond\nsecond\n";
        EXPECT_EQ(::write(master, typed, sizeof typed - 1), ssize_t(sizeof typed - 1));
    });
    const Outcome outcome = Run({QStringLiteral("--add-user"), QStringLiteral("tty")}, {}, slave);
    typist.join();

    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, QStringLiteral("Password : Retype password : The passwords do not "
                                          "match.\nPassword : Retype password : "));
    EXPECT_EQ(FindLoginRecord(*Load(), "tty", "second"), 0);
    termios mode{};
    ASSERT_EQ(::tcgetattr(slave, &mode), 0);
    EXPECT_TRUE(mode.c_lflag & ECHO);  // restored

    // Only the line ends came back from the terminal, never a typed character.
    ::close(slave);
    QByteArray echoed;
    char buffer[256];
    ssize_t n = 0;
    while ((n = ::read(master, buffer, sizeof buffer)) > 0) echoed.append(buffer, n);
    ::close(master);
    EXPECT_FALSE(echoed.contains("first"));
    EXPECT_FALSE(echoed.contains("second"));
}

}  // namespace
}  // namespace orvane
