// The user database file: its exact bytes, both versions, damaged files and failed saves.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <cstring>
#include <memory>
#include <string>

#include "FakeMessageBox.h"
#include "TestEnvironment.h"
#include "TestUsers.h"
#include "app/OrvaneApp.h"
#include "config/SettingsStore.h"
#include "users/UserDatabase.h"

using namespace orvane;

namespace {

const QString kConvertNote =
    QStringLiteral("Note : User database will be converted to new version of Orvane.");
const QString kVersionMismatch =
    QStringLiteral("Error : User database version does not match program version.");
// The mismatch, and where the file that could not be read will be kept.
QString KeptAsMessage(const QString& path) {
    return kVersionMismatch +
           QStringLiteral(
               "\n\nThe file is not changed. It will be kept as \"%1.unreadable\" "
               "before the user database is next saved.")
               .arg(path);
}
const QString kSaveFailed = QStringLiteral("Could not save user database.");
const QString kNoUsers = QStringLiteral("No users are defined. Nobody can log in to the server.");

constexpr int kNameOffset = 12;
constexpr int kPasswordOffset = 140;
constexpr int kGreetingOffset = 268;

QString FreshDatabasePath() {
    return test::MakeTempDir(QStringLiteral("users")) + QStringLiteral("/ORVANE.DAT");
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

UserRecord MakeUser(const char* name, const char* password, const char* greeting = "",
                    int canLogin = 1, int canUseDos = 1, int canShutdown = 1) {
    return test::MakeUser(name, password, canLogin, canUseDos, canShutdown, greeting);
}

std::unique_ptr<UserTable> TableOf(std::initializer_list<UserRecord> users) {
    auto table = std::make_unique<UserTable>();
    for (const UserRecord& user : users) table->records[table->count++] = user;
    return table;
}

int RecordStart(int slot) {
    return kUserDatabaseHeaderSize + slot * int(sizeof(UserRecord));
}

qint32 IntAt(const QByteArray& bytes, int offset) {
    return qFromLittleEndian<qint32>(bytes.constData() + offset);
}

unsigned char ByteAt(const QByteArray& bytes, int offset) {
    return static_cast<unsigned char>(bytes.at(offset));
}

QByteArray Header(quint16 version, qint32 count) {
    QByteArray bytes(kUserDatabaseHeaderSize, '\0');
    qToLittleEndian<quint16>(version, bytes.data());
    qToLittleEndian<qint32>(count, bytes.data() + 2);
    return bytes;
}

// A version-2 file built by hand: texts complemented, filler 0x11 behind the terminator.
QByteArray Version2File(qint32 count, std::initializer_list<UserRecord> users) {
    QByteArray bytes = Header(2, count) + QByteArray(kMaxUsers * sizeof(UserRecord), '\0');
    int slot = 0;
    for (UserRecord user : users) {
        for (auto [field, size] : {std::pair{user.name, kNameSize},
                                   {user.password, kPasswordSize},
                                   {user.greeting, kGreetingSize}}) {
            const int length = int(strnlen(field, size));
            for (int i = 0; i < size; ++i) {
                if (i < length)
                    field[i] = char(255 - static_cast<unsigned char>(field[i]));
                else if (i > length)
                    field[i] = 0x11;
            }
        }
        std::memcpy(bytes.data() + RecordStart(slot++), &user, sizeof user);
    }
    return bytes;
}

// A version-1 file: 264-byte records of 8 unused bytes, a plain name and a plain password.
QByteArray Version1File(qint32 count,
                        std::initializer_list<std::pair<const char*, const char*>> users) {
    QByteArray bytes = Header(1, count) + QByteArray(kMaxUsers * kUserRecordV1Size, '\0');
    int slot = 0;
    for (auto [name, password] : users) {
        char* record = bytes.data() + kUserDatabaseHeaderSize + slot++ * kUserRecordV1Size;
        std::memset(record, 0x5A, 8);
        std::memcpy(record + 8, name, std::strlen(name));
        std::memcpy(record + 136, password, std::strlen(password));
    }
    return bytes;
}

void ExpectSameUser(const UserRecord& actual, const UserRecord& expected) {
    EXPECT_EQ(actual.canLogin, expected.canLogin);
    EXPECT_EQ(actual.canUseDos, expected.canUseDos);
    EXPECT_EQ(actual.canShutdown, expected.canShutdown);
    EXPECT_STREQ(actual.name, expected.name);
    EXPECT_STREQ(actual.password, expected.password);
    EXPECT_STREQ(actual.greeting, expected.greeting);
}

// Lowers the file size limit of this process, so that writes fail as on a full disk.
class FileSizeLimit final {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_saved{};
    sighandler_t m_oldHandler{};
};

class ScriptedAdminPrompt final : public AdminAccountPrompt {
public:
    bool AskForAdminAccount(UserRecord& record) override {
        ++asked;
        if (confirm) record = MakeUser("admin", "secret");
        return confirm;
    }
    bool confirm = true;
    int asked = 0;
};

}  // namespace

TEST(UserDatabaseFile, NameAbcIsStoredComplementedWithItsTerminatorAndFiller) {
    const QString path = FreshDatabasePath();
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    ASSERT_TRUE(database.Save(*TableOf({MakeUser("abc", "")})));

    const QByteArray bytes = ReadAll(path);
    const int name = RecordStart(0) + kNameOffset;
    EXPECT_EQ(ByteAt(bytes, name + 0), 0x9E);
    EXPECT_EQ(ByteAt(bytes, name + 1), 0x9D);
    EXPECT_EQ(ByteAt(bytes, name + 2), 0x9C);
    EXPECT_EQ(ByteAt(bytes, name + 3), 0x00);
    int nonZeroFiller = 0;
    for (int i = 4; i < kNameSize; ++i) {
        EXPECT_LE(ByteAt(bytes, name + i), 254) << "filler byte " << i;
        if (ByteAt(bytes, name + i) != 0) ++nonZeroFiller;
    }
    EXPECT_GT(nonZeroFiller, 0) << "the filler is pseudo-random, not left blank";
    // The empty password: a terminator, then 127 filler bytes.
    EXPECT_EQ(ByteAt(bytes, RecordStart(0) + kPasswordOffset), 0x00);
    EXPECT_TRUE(messages.shown.empty());
}

TEST(UserDatabaseFile, LongestNameFillsItsFieldWithTheTerminatorLast) {
    const QString path = FreshDatabasePath();
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    const std::string longName(127, 'x');
    ASSERT_TRUE(database.Save(*TableOf({MakeUser(longName.c_str(), "pw")})));

    const QByteArray bytes = ReadAll(path);
    const int name = RecordStart(0) + kNameOffset;
    for (int i = 0; i < 127; ++i) ASSERT_EQ(ByteAt(bytes, name + i), 255 - 'x') << i;
    EXPECT_EQ(ByteAt(bytes, name + 127), 0x00);

    auto loaded = std::make_unique<UserTable>();
    database.Load(*loaded);
    EXPECT_EQ(std::string(loaded->records[0].name), longName);
}

TEST(UserDatabaseFile, IsAlways76038BytesWithVersionAndCountInFront) {
    test::FakeMessageBox messages;
    for (int count : {0, 1, 99}) {
        const QString path = FreshDatabasePath();
        UserDatabase database(path, messages);
        auto table = std::make_unique<UserTable>();
        for (int i = 0; i < count; ++i) table->records[i] = MakeUser("u", "p");
        table->count = count;
        ASSERT_TRUE(database.Save(*table));
        const QByteArray bytes = ReadAll(path);
        ASSERT_EQ(bytes.size(), 76038) << "count " << count;
        EXPECT_EQ(qFromLittleEndian<quint16>(bytes.constData()), 2);
        EXPECT_EQ(IntAt(bytes, 2), count);
    }
    EXPECT_TRUE(messages.shown.empty());
}

TEST(UserDatabaseFile, RightsStandInTheFileAsPlainIntegers) {
    const QString path = FreshDatabasePath();
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    ASSERT_TRUE(database.Save(
        *TableOf({MakeUser("a", "a", "", 0, 0, 0), MakeUser("b", "b", "", 1, 0, 1)})));

    const QByteArray bytes = ReadAll(path);
    EXPECT_EQ(IntAt(bytes, RecordStart(0) + 0), 0);
    EXPECT_EQ(IntAt(bytes, RecordStart(0) + 4), 0);
    EXPECT_EQ(IntAt(bytes, RecordStart(0) + 8), 0);
    EXPECT_EQ(IntAt(bytes, RecordStart(1) + 0), 1);
    EXPECT_EQ(IntAt(bytes, RecordStart(1) + 4), 0);
    EXPECT_EQ(IntAt(bytes, RecordStart(1) + 8), 1);
}

TEST(UserDatabaseFile, EveryFieldSurvivesSaveAndLoadWhileTheLiveTableStaysPlain) {
    const QString path = FreshDatabasePath();
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    const std::string longGreeting(499, 'g');
    auto table = TableOf({
        MakeUser("Administrator", "S3cr3t!", "Welcome, boss.\r\nBe careful.\r\n", 1, 1, 1),
        MakeUser("J\xC3\xB6rg \xE2\x82\xAC", "p\xC3\xA4ss", "Hall\xC3\xB6", 1, 0, 0),
        MakeUser("guest", "", longGreeting.c_str(), 0, 1, 0),
        MakeUser("", "x", "", 1, 0, 1),
    });
    const auto before = std::make_unique<UserTable>(*table);

    ASSERT_TRUE(database.Save(*table));
    EXPECT_EQ(std::memcmp(table.get(), before.get(), sizeof(UserTable)), 0)
        << "saving must not change the live table";

    auto loaded = std::make_unique<UserTable>();
    database.Load(*loaded);
    ASSERT_EQ(loaded->count, 4);
    for (int i = 0; i < 4; ++i) ExpectSameUser(loaded->records[i], table->records[i]);
    EXPECT_TRUE(messages.shown.empty());
}

TEST(UserDatabaseFile, NoPlainTextLeftInMemoryReachesTheFile) {
    const QString path = FreshDatabasePath();
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    auto table = TableOf({MakeUser("carol", "LeakyOldPassword1")});
    // A shortened password keeps its old tail in memory behind the new terminator, and a
    // deleted user's record stays behind the used slots.
    table->records[0].password[0] = 'x';
    table->records[0].password[1] = 0;
    table->records[1] = MakeUser("DeletedUser", "DeletedPassword2", "DeletedGreeting");

    ASSERT_TRUE(database.Save(*table));
    const QByteArray bytes = ReadAll(path);
    EXPECT_FALSE(bytes.contains("OldPassword1"));
    EXPECT_FALSE(bytes.contains("DeletedUser"));
    EXPECT_FALSE(bytes.contains("DeletedPassword2"));
    EXPECT_FALSE(bytes.contains("DeletedGreeting"));

    auto loaded = std::make_unique<UserTable>();
    database.Load(*loaded);
    ASSERT_EQ(loaded->count, 1);
    EXPECT_STREQ(loaded->records[0].password, "x");
}

TEST(UserDatabaseFile, HandMadeVersion2FileLoadsRegardlessOfItsFiller) {
    const QString path = FreshDatabasePath();
    const UserRecord alice = MakeUser("alice", "wonder", "Hi\r\n", 1, 0, 1);
    const UserRecord bob = MakeUser("bob", "builder", "", 0, 1, 0);
    WriteAll(path, Version2File(2, {alice, bob}));
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    auto table = std::make_unique<UserTable>();
    database.Load(*table);
    ASSERT_EQ(table->count, 2);
    ExpectSameUser(table->records[0], alice);
    ExpectSameUser(table->records[1], bob);
    EXPECT_TRUE(messages.shown.empty());
}

TEST(UserDatabaseFile, MissingFileLoadsAnEmptyTableSilently) {
    test::FakeMessageBox messages;
    UserDatabase database(FreshDatabasePath(), messages);
    auto table = TableOf({MakeUser("stale", "stale")});
    database.Load(*table);
    EXPECT_EQ(table->count, 0);
    EXPECT_TRUE(messages.shown.empty());
}

TEST(UserDatabaseVersion1, IsConvertedWithAllRightsAndRewrittenAsVersion2) {
    const QString path = FreshDatabasePath();
    WriteAll(path, Version1File(3, {{"alice", "one"}, {"Bob", "Two"}, {"carol", "three"}}));
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    auto table = std::make_unique<UserTable>();
    int countWhenNoted = -1;
    messages.onShow = [&](const test::ShownMessage& shown) {
        if (shown.text != kConvertNote) return;
        countWhenNoted = table->count;
        // The count is read only after the note is closed: change it now, and the load
        // must take the new value.
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.seek(2));
        const QByteArray two = Header(1, 2).mid(2);
        ASSERT_EQ(file.write(two), 4);
    };
    database.Load(*table);

    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, kConvertNote);
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Information);
    EXPECT_EQ(messages.shown[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(countWhenNoted, 0);
    ASSERT_EQ(table->count, 2);
    ExpectSameUser(table->records[0], MakeUser("alice", "one"));
    ExpectSameUser(table->records[1], MakeUser("Bob", "Two"));

    const QByteArray rewritten = ReadAll(path);
    ASSERT_EQ(rewritten.size(), 76038);
    EXPECT_EQ(qFromLittleEndian<quint16>(rewritten.constData()), 2);
    EXPECT_FALSE(rewritten.contains("alice")) << "converted texts are stored scrambled";

    auto reloaded = std::make_unique<UserTable>();
    database.Load(*reloaded);
    EXPECT_EQ(messages.shown.size(), 1u) << "a converted file is not converted again";
    ASSERT_EQ(reloaded->count, 2);
    ExpectSameUser(reloaded->records[1], MakeUser("Bob", "Two"));
}

TEST(UserDatabaseVersion1, DamagedTextsAreCutToFitTheField) {
    const QString path = FreshDatabasePath();
    QByteArray bytes = Version1File(1, {{"", "pw\xFFhidden"}});
    std::memset(bytes.data() + kUserDatabaseHeaderSize + 8, 'n', kNameSize);  // no terminator
    WriteAll(path, bytes);
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    auto table = std::make_unique<UserTable>();
    database.Load(*table);
    ASSERT_EQ(table->count, 1);
    EXPECT_EQ(std::string(table->records[0].name), std::string(127, 'n'));
    // Byte 255 cannot be stored in version 2; the text ends there instead of coming back
    // cut short after the next save.
    EXPECT_STREQ(table->records[0].password, "pw");
    auto reloaded = std::make_unique<UserTable>();
    database.Load(*reloaded);
    ExpectSameUser(reloaded->records[0], table->records[0]);
}

TEST(UserDatabaseVersion1, FailedSaveAfterConversionKeepsUsersForThisRunAndTheOldFile) {
    const QString path = FreshDatabasePath();
    const QByteArray version1 = Version1File(1, {{"alice", "one"}});
    WriteAll(path, version1);
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    auto table = std::make_unique<UserTable>();
    {
        FileSizeLimit fullDisk(30000);  // room for the old file, not for the new one
        database.Load(*table);
    }
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[0].text, kConvertNote);
    EXPECT_EQ(messages.shown[1].text, kSaveFailed);
    EXPECT_EQ(messages.shown[1].icon, MessageIcon::None);
    ASSERT_EQ(table->count, 1);
    EXPECT_STREQ(table->records[0].name, "alice");
    EXPECT_EQ(ReadAll(path), version1);
}

TEST(UserDatabaseDamage, OtherVersionsAreRefusedAndLeftUntouched) {
    for (quint16 version : {0, 3}) {
        const QString path = FreshDatabasePath();
        const QByteArray original =
            Version2File(1, {MakeUser("a", "b")}).replace(0, 2, Header(version, 0).left(2));
        WriteAll(path, original);
        test::FakeMessageBox messages;
        UserDatabase database(path, messages);
        auto table = TableOf({MakeUser("stale", "stale")});
        database.Load(*table);
        ASSERT_EQ(messages.shown.size(), 1u) << "version " << version;
        EXPECT_EQ(messages.shown[0].text, KeptAsMessage(path));
        EXPECT_EQ(messages.shown[0].icon, MessageIcon::None);
        EXPECT_EQ(table->count, 0);
        EXPECT_EQ(ReadAll(path), original);
    }
}

TEST(UserDatabaseDamage, FileTooShortForItsVersionIsAVersionMismatch) {
    for (const QByteArray& content : {QByteArray(), QByteArray(1, '\x02')}) {
        const QString path = FreshDatabasePath();
        WriteAll(path, content);
        test::FakeMessageBox messages;
        UserDatabase database(path, messages);
        auto table = std::make_unique<UserTable>();
        database.Load(*table);
        ASSERT_EQ(messages.shown.size(), 1u) << content.size() << " bytes";
        EXPECT_EQ(messages.shown[0].text, KeptAsMessage(path));
        EXPECT_EQ(table->count, 0);
        EXPECT_EQ(ReadAll(path), content);
    }
}

TEST(UserDatabaseDamage, AnUnreadableFileIsKeptAsideBeforeTheFirstSaveAndNeverOverwritten) {
    const QString path = FreshDatabasePath();
    const QByteArray original = Header(7, 1) + QByteArray(300, '\x5a');
    WriteAll(path, original);
    // An older kept file is not replaced either.
    WriteAll(path + QStringLiteral(".unreadable"), "older");
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    auto table = std::make_unique<UserTable>();
    database.Load(*table);
    EXPECT_EQ(database.KeepPath(), path + QStringLiteral(".unreadable.1"));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].text.contains(path + QStringLiteral(".unreadable.1")));
    EXPECT_EQ(ReadAll(path), original);

    table->records[0] = MakeUser("admin", "pw");
    table->count = 1;
    ASSERT_TRUE(database.Save(*table));
    EXPECT_EQ(ReadAll(path + QStringLiteral(".unreadable.1")), original);
    EXPECT_EQ(ReadAll(path + QStringLiteral(".unreadable")), QByteArray("older"));
    auto reloaded = std::make_unique<UserTable>();
    database.Load(*reloaded);
    EXPECT_EQ(reloaded->count, 1);
    // Later saves just replace the database.
    EXPECT_TRUE(database.KeepPath().isEmpty());
    ASSERT_TRUE(database.Save(*reloaded));
    EXPECT_EQ(ReadAll(path + QStringLiteral(".unreadable.1")), original);
}

TEST(UserDatabaseDamage, AFifoInPlaceOfTheDatabaseNeitherHangsTheStartNorIsWrittenInto) {
    const QString path = FreshDatabasePath();
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    auto table = std::make_unique<UserTable>();
    database.Load(*table);
    EXPECT_EQ(table->count, 0);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, KeptAsMessage(path));
    table->records[0] = MakeUser("admin", "pw");
    table->count = 1;
    ASSERT_TRUE(database.Save(*table));
    EXPECT_TRUE(QFileInfo(path).isFile());
    EXPECT_FALSE(QFileInfo(path + QStringLiteral(".unreadable")).isFile());
    EXPECT_TRUE(QFileInfo::exists(path + QStringLiteral(".unreadable")));
}

TEST(UserDatabaseDamage, CountOutsideTheTableIsClamped) {
    const QString path = FreshDatabasePath();
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);

    auto full = std::make_unique<UserTable>();
    for (int i = 0; i < kMaxUsers; ++i) full->records[i] = MakeUser("user", "pw");
    full->count = kMaxUsers;
    ASSERT_TRUE(database.Save(*full));
    QByteArray bytes = ReadAll(path);
    bytes.replace(2, 4, Header(2, 500).mid(2));
    WriteAll(path, bytes);
    auto table = std::make_unique<UserTable>();
    database.Load(*table);
    EXPECT_EQ(table->count, 99);
    EXPECT_STREQ(table->records[98].name, "user");

    bytes.replace(2, 4, Header(2, -3).mid(2));
    WriteAll(path, bytes);
    database.Load(*table);
    EXPECT_EQ(table->count, 0);
    EXPECT_TRUE(messages.shown.empty());
}

TEST(UserDatabaseDamage, ShortFileLeavesWhatItLacksEmpty) {
    const QString path = FreshDatabasePath();
    const QByteArray whole = Version2File(2, {MakeUser("alice", "pw", "", 1, 1, 1)});
    WriteAll(path, whole.left(RecordStart(1) + 5));  // slot 1 cut inside its rights
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    auto table = TableOf({MakeUser("x", "x"), MakeUser("stale", "stale", "stale", 1, 1, 1)});
    database.Load(*table);
    ASSERT_EQ(table->count, 2);
    EXPECT_STREQ(table->records[0].name, "alice");
    EXPECT_EQ(table->records[1].canLogin, 0);
    EXPECT_STREQ(table->records[1].name, "");
    EXPECT_STREQ(table->records[1].greeting, "");
}

TEST(UserDatabaseDamage, UnterminatedStoredTextIsCutInsideItsField) {
    const QString path = FreshDatabasePath();
    QByteArray bytes = Version2File(1, {MakeUser("a", "b", "c")});
    std::memset(bytes.data() + RecordStart(0) + kGreetingOffset, 255 - 'g', kGreetingSize);
    WriteAll(path, bytes);
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    auto table = std::make_unique<UserTable>();
    database.Load(*table);
    ASSERT_EQ(table->count, 1);
    EXPECT_EQ(std::string(table->records[0].greeting), std::string(499, 'g'));
}

TEST(UserDatabaseSave, FileThatCannotBeCreatedReportsAndLeavesTheTablePlain) {
    const QString dir = test::MakeTempDir(QStringLiteral("blocked"));
    WriteAll(dir + QStringLiteral("/notadir"), "plain file");
    test::FakeMessageBox messages;
    UserDatabase database(dir + QStringLiteral("/notadir/ORVANE.DAT"), messages);
    auto table = TableOf({MakeUser("alice", "pw", "hello")});
    const auto before = std::make_unique<UserTable>(*table);

    EXPECT_FALSE(database.Save(*table));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, kSaveFailed);
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::None);
    EXPECT_EQ(std::memcmp(table.get(), before.get(), sizeof(UserTable)), 0);
    EXPECT_EQ(ReadAll(dir + QStringLiteral("/notadir")), QByteArray("plain file"));
}

TEST(UserDatabaseSave, WriteErrorLeavesThePreviousDatabaseWhole) {
    const QString path = FreshDatabasePath();
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    ASSERT_TRUE(database.Save(*TableOf({MakeUser("alice", "old")})));
    const QByteArray previous = ReadAll(path);

    bool saved = true;
    {
        FileSizeLimit fullDisk(4096);
        saved = database.Save(*TableOf({MakeUser("alice", "new")}));
    }
    EXPECT_FALSE(saved);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, kSaveFailed);
    EXPECT_EQ(ReadAll(path), previous);
    auto table = std::make_unique<UserTable>();
    database.Load(*table);
    EXPECT_STREQ(table->records[0].password, "old");
}

TEST(UserDatabaseSave, FileIsReadableByItsOwnerOnly) {
    const QString path = FreshDatabasePath();
    WriteAll(path, "old");
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0644), 0);
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    ASSERT_TRUE(database.Save(*TableOf({MakeUser("a", "b")})));
    struct stat info {};
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    const QString fresh = FreshDatabasePath();
    UserDatabase freshDatabase(fresh, messages);
    ASSERT_TRUE(freshDatabase.Save(*TableOf({})));
    ASSERT_EQ(stat(QFile::encodeName(fresh).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST(FirstRunAccount, EmptyTableAsksAndSavesTheConfirmedAdministrator) {
    const QString path = FreshDatabasePath();
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    ScriptedAdminPrompt prompt;
    auto table = std::make_unique<UserTable>();
    RunFirstRunAccountFlow(*table, database, prompt, messages);
    EXPECT_EQ(prompt.asked, 1);
    ASSERT_EQ(table->count, 1);
    EXPECT_STREQ(table->records[0].name, "admin");
    EXPECT_TRUE(messages.shown.empty());

    auto loaded = std::make_unique<UserTable>();
    database.Load(*loaded);
    ASSERT_EQ(loaded->count, 1);
    ExpectSameUser(loaded->records[0], table->records[0]);
}

TEST(FirstRunAccount, CancelledPromptWarnsThatNobodyCanLogIn) {
    const QString path = FreshDatabasePath();
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    ScriptedAdminPrompt prompt;
    prompt.confirm = false;
    auto table = std::make_unique<UserTable>();
    RunFirstRunAccountFlow(*table, database, prompt, messages);
    EXPECT_EQ(prompt.asked, 1);
    EXPECT_EQ(table->count, 0);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, kNoUsers);
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::None);
    EXPECT_FALSE(QFile::exists(path));
}

TEST(FirstRunAccount, ExistingUsersAreNotAskedAnything) {
    const QString path = FreshDatabasePath();
    test::FakeMessageBox messages;
    UserDatabase database(path, messages);
    ScriptedAdminPrompt prompt;
    auto table = TableOf({MakeUser("someone", "pw")});
    RunFirstRunAccountFlow(*table, database, prompt, messages);
    EXPECT_EQ(prompt.asked, 0);
    EXPECT_EQ(table->count, 1);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_FALSE(QFile::exists(path));
}

TEST(OrvaneAppUsers, LoadsTheDataFileBesideTheProgram) {
    const QString dir = test::MakeTempDir(QStringLiteral("program"));
    test::FakeMessageBox messages;
    UserDatabase writer(dir + QStringLiteral("/ORVANE.DAT"), messages);
    ASSERT_TRUE(writer.Save(*TableOf({MakeUser("alice", "pw"), MakeUser("bob", "pw")})));

    SettingsStore settings(test::MakeTempDir(QStringLiteral("settings")) +
                           QStringLiteral("/Orvane.conf"));
    auto app = std::make_unique<COrvaneApp>(dir + QStringLiteral("/orvane"), settings, messages);
    EXPECT_EQ(app->DataFilePath(), dir + QStringLiteral("/ORVANE.DAT"));
    app->LoadUserDatabase();
    ASSERT_EQ(app->Users().count, 2);
    EXPECT_STREQ(app->Users().records[1].name, "bob");
    EXPECT_TRUE(messages.shown.empty());
}
