// Reading, converting, scrambling and writing the user database file.
#include "users/UserDatabase.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/MessageBox.h"
#include "platform/RegularFile.h"
#include "users/DatabaseTexts.h"

namespace orvane {

namespace {

const QString kConvertNote = QString::fromLatin1(kConvertNoteText);
const QString kVersionMismatch = QString::fromLatin1(kVersionMismatchText);
const QString kSaveFailed = QString::fromLatin1(kSaveFailedText);
const QString kNoUsers = QString::fromLatin1(kNoUsersText);

// The record of version 1, read only to convert it.
struct UserRecordV1 {
    char unused[8];
    char name[kNameSize];
    char password[kPasswordSize];
};
static_assert(sizeof(UserRecordV1) == kUserRecordV1Size, "UserRecordV1 must be 264 bytes");

int ClampedCount(std::int32_t count) {
    return std::clamp<std::int32_t>(count, 0, kMaxUsers);
}

// Reads until n bytes are in or the file ends; a short file simply supplies less.
qint64 ReadUpTo(QFile& file, void* destination, qint64 n) {
    char* out = static_cast<char*>(destination);
    qint64 done = 0;
    while (done < n) {
        const qint64 got = file.read(out + done, n - done);
        if (got <= 0) break;
        done += got;
    }
    return done;
}

int ReadCount(QFile& file) {
    unsigned char bytes[4] = {};
    ReadUpTo(file, bytes, sizeof bytes);
    return ClampedCount(qFromLittleEndian<qint32>(bytes));
}

int TextLength(const char* field, int size) {
    const void* end = std::memchr(field, 0, size);
    return end ? static_cast<int>(static_cast<const char*>(end) - field) : size;
}

// Complements the text, keeps its terminator and hides whatever stood behind it (an older,
// longer text) under filler values 0..254; 255 is left out because its complement would
// read back as a terminator.
void ScrambleText(char* field, int size) {
    auto* bytes = reinterpret_cast<unsigned char*>(field);
    const int length = std::min(TextLength(field, size), size - 1);
    for (int i = 0; i < length; ++i) bytes[i] = static_cast<unsigned char>(255 - bytes[i]);
    bytes[length] = 0;
    for (int i = length + 1; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(std::rand() % 255);
}

// A damaged file may hold a field without a terminator: the text is cut to fit, so that
// every reader of the table finds its end inside the field.
void UnscrambleText(char* field, int size) {
    auto* bytes = reinterpret_cast<unsigned char*>(field);
    const int length = TextLength(field, size);
    for (int i = 0; i < length; ++i) bytes[i] = static_cast<unsigned char>(255 - bytes[i]);
    if (length == size) bytes[size - 1] = 0;
}

void ScrambleRecords(UserTable& table) {
    for (int i = 0; i < ClampedCount(table.count); ++i) {
        UserRecord& record = table.records[i];
        ScrambleText(record.name, kNameSize);
        ScrambleText(record.password, kPasswordSize);
        ScrambleText(record.greeting, kGreetingSize);
    }
}

void UnscrambleRecords(UserTable& table) {
    for (int i = 0; i < ClampedCount(table.count); ++i) {
        UserRecord& record = table.records[i];
        UnscrambleText(record.name, kNameSize);
        UnscrambleText(record.password, kPasswordSize);
        UnscrambleText(record.greeting, kGreetingSize);
    }
}

// Version-1 texts are plain. A byte 255 cannot be stored in version 2 (it would come back
// as the end of the text), so the text ends there already.
void CopyVersion1Text(char* field, const char* source, int size) {
    std::memset(field, 0, size);
    for (int i = 0; i < size - 1; ++i) {
        const auto c = static_cast<unsigned char>(source[i]);
        if (c == 0 || c == 255) break;
        field[i] = source[i];
    }
}

void ConvertVersion1Records(UserTable& table, const UserRecordV1* oldRecords) {
    for (int i = 0; i < ClampedCount(table.count); ++i) {
        UserRecord& record = table.records[i];
        record.canLogin = 1;
        record.canUseDos = 1;
        record.canShutdown = 1;
        record.greeting[0] = 0;
        CopyVersion1Text(record.name, oldRecords[i].name, kNameSize);
        CopyVersion1Text(record.password, oldRecords[i].password, kPasswordSize);
    }
}

QByteArray FileImage(const UserTable& table) {
    // The live table is never seen scrambled: a copy is scrambled for writing. Slots from
    // count on carry no meaning and are written as zero bytes, so that a deleted user's
    // record never reaches the file in plain text.
    auto image = std::make_unique<UserTable>();
    image->count = ClampedCount(table.count);
    std::copy(table.records, table.records + image->count, image->records);
    ScrambleRecords(*image);

    QByteArray bytes(kUserDatabaseFileSize, '\0');
    qToLittleEndian<quint16>(kUserDatabaseVersion, bytes.data());
    qToLittleEndian<qint32>(image->count, bytes.data() + 2);
    std::memcpy(bytes.data() + kUserDatabaseHeaderSize, image->records, sizeof image->records);
    return bytes;
}

}  // namespace

UserDatabase::UserDatabase(QString filePath, MessageBoxService& messages)
    : m_filePath(std::move(filePath)), m_messages(messages) {}

void UserDatabase::KeepUnreadableFile() {
    // The first free name, as for the settings file: an older kept file is never replaced.
    for (int n = 0; n < 100 && m_keepPath.isEmpty(); ++n) {
        const QString keep = m_filePath + QStringLiteral(".unreadable") +
                             (n == 0 ? QString() : QStringLiteral(".%1").arg(n));
        if (!QFileInfo::exists(keep) && !QFileInfo(keep).isSymLink()) m_keepPath = keep;
    }
    if (m_keepPath.isEmpty()) m_keepPath = m_filePath + QStringLiteral(".unreadable");
    m_messages.Show(kVersionMismatch + QStringLiteral("\n\n") +
                        QString::fromLatin1(kKeptAsFormat).arg(m_keepPath),
                    MessageIcon::None);
}

void UserDatabase::Load(UserTable& table) {
    table = UserTable{};
    m_keepPath.clear();
    // A FIFO or a device under the name would hang the start or be replaced by the save.
    if (!IsRegularFileOrMissing(m_filePath)) {
        KeepUnreadableFile();
        return;
    }
    // Unbuffered, so that each read takes from the file exactly when the format says it
    // does (the conversion note comes between the version and the count).
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        if (QFileInfo::exists(m_filePath)) KeepUnreadableFile();
        return;
    }

    unsigned char versionBytes[2] = {};
    const bool hasVersion = ReadUpTo(file, versionBytes, sizeof versionBytes) == 2;
    const quint16 version = hasVersion ? qFromLittleEndian<quint16>(versionBytes) : 0;

    if (hasVersion && version == kUserDatabaseVersion1) {
        m_messages.Show(kConvertNote, MessageIcon::Information);
        table.count = ReadCount(file);
        auto oldRecords = std::make_unique<UserRecordV1[]>(kMaxUsers);
        ReadUpTo(file, oldRecords.get(), qint64(kMaxUsers) * kUserRecordV1Size);
        file.close();
        ConvertVersion1Records(table, oldRecords.get());
        Save(table);
        return;
    }
    if (hasVersion && version == kUserDatabaseVersion) {
        table.count = ReadCount(file);
        ReadUpTo(file, table.records, sizeof table.records);
        file.close();
        UnscrambleRecords(table);
        return;
    }
    file.close();
    KeepUnreadableFile();
}

bool UserDatabase::Save(const UserTable& table) {
    const QByteArray bytes = FileImage(table);
    if (!m_keepPath.isEmpty()) {
        const bool present = QFileInfo::exists(m_filePath) || QFileInfo(m_filePath).isSymLink();
        if (present && !QFile::rename(m_filePath, m_keepPath)) {
            m_messages.Show(kSaveFailed, MessageIcon::None);
            return false;
        }
        m_keepPath.clear();
    }
    bool saved = false;
    {
        // Written beside the old file and renamed over it only when complete, so that a
        // crash, a full disk or a write error leaves the previous database as it was.
        QSaveFile file(m_filePath);
        if (file.open(QIODevice::WriteOnly) &&
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
            file.write(bytes) == bytes.size()) {
            saved = file.commit();
        }
    }
    if (!saved) m_messages.Show(kSaveFailed, MessageIcon::None);
    return saved;
}

void RunFirstRunAccountFlow(UserTable& table, UserDatabase& database, AdminAccountPrompt& prompt,
                            MessageBoxService& messages) {
    if (table.count <= 0) {
        UserRecord record;
        if (prompt.AskForAdminAccount(record)) {
            table.records[0] = record;
            table.count = 1;
            database.Save(table);
        }
    }
    if (table.count <= 0) messages.Show(kNoUsers, MessageIcon::None);
}

}  // namespace orvane
