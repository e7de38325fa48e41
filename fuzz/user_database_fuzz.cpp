// Fuzzes the user database loader: whatever the file holds, loading gives a sound table,
// and saving and loading that table again gives the same users.
#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/MessageBox.h"
#include "users/UserDatabase.h"

using namespace orvane;

namespace {

class SilentMessages final : public MessageBoxService {
public:
    MessageAnswer Show(const QString&, MessageIcon, MessageButtons) override {
        return MessageAnswer::Ok;
    }
};

QString g_directory;

void RemoveDirectory() {
    QDir(g_directory).removeRecursively();
}

// One private directory per run, in memory when the machine has one: every save syncs.
const QString& DatabasePath() {
    static const QString path = [] {
        // A TMPDIR set by the runner wins: it removes the directory after the run.
        const QString base =
            qEnvironmentVariableIsEmpty("TMPDIR") && QDir(QStringLiteral("/dev/shm")).exists()
                ? QStringLiteral("/dev/shm")
                : QDir::tempPath();
        QByteArray pattern = QFile::encodeName(base + QStringLiteral("/orvane-fuzz-XXXXXX"));
        if (!mkdtemp(pattern.data())) std::abort();
        g_directory = QFile::decodeName(pattern);
        std::atexit(RemoveDirectory);
        return g_directory + QStringLiteral("/ORVANE.DAT");
    }();
    return path;
}

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "user database fuzz: %s\n", what);
    std::abort();
}

void RequireSoundText(const char* field, int size) {
    const void* end = std::memchr(field, 0, size);
    Require(end != nullptr, "text without a terminator inside its field");
    Require(std::memchr(field, 255, static_cast<const char*>(end) - field) == nullptr,
            "text holding byte 255");
}

void RequireSoundTable(const UserTable& table) {
    Require(table.count >= 0 && table.count <= kMaxUsers, "count outside the table");
    for (int i = 0; i < table.count; ++i) {
        RequireSoundText(table.records[i].name, kNameSize);
        RequireSoundText(table.records[i].password, kPasswordSize);
        RequireSoundText(table.records[i].greeting, kGreetingSize);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString& path = DatabasePath();
    {
        QFile file(path);
        Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the input");
        Require(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size),
                "cannot write the input");
    }

    // An unreadable input is kept aside before the save; one kept copy is enough here.
    QFile::remove(path + QStringLiteral(".unreadable"));
    SilentMessages messages;
    UserDatabase database(path, messages);
    auto first = std::make_unique<UserTable>();
    database.Load(*first);
    RequireSoundTable(*first);

    Require(database.Save(*first), "save failed");
    Require(QFile(path).size() == kUserDatabaseFileSize, "saved file has the wrong size");

    auto second = std::make_unique<UserTable>();
    database.Load(*second);
    RequireSoundTable(*second);
    Require(second->count == first->count, "count changed by save and load");
    for (int i = 0; i < first->count; ++i) {
        const UserRecord& a = first->records[i];
        const UserRecord& b = second->records[i];
        Require(a.canLogin == b.canLogin && a.canUseDos == b.canUseDos &&
                    a.canShutdown == b.canShutdown,
                "rights changed by save and load");
        Require(std::strcmp(a.name, b.name) == 0, "name changed by save and load");
        Require(std::strcmp(a.password, b.password) == 0, "password changed by save and load");
        Require(std::strcmp(a.greeting, b.greeting) == 0, "greeting changed by save and load");
    }
    return 0;
}
