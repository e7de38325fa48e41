// The user database file: version 2 written whole, version 1 read and converted.
#pragma once

#include <QString>
#include <cstdint>

#include "users/UserRecord.h"

namespace orvane {

class MessageBoxService;

// Layout of the two file versions. Integers are little-endian.
inline constexpr std::uint16_t kUserDatabaseVersion = 2;
inline constexpr std::uint16_t kUserDatabaseVersion1 = 1;
inline constexpr int kUserDatabaseHeaderSize = 2 + 4;  // version, count
inline constexpr qint64 kUserDatabaseFileSize =
    kUserDatabaseHeaderSize + kMaxUsers * qint64(sizeof(UserRecord));  // 76038
inline constexpr int kUserRecordV1Size = 264;
inline constexpr qint64 kUserDatabaseV1FileSize =
    kUserDatabaseHeaderSize + kMaxUsers * qint64(kUserRecordV1Size);  // 26142

class UserDatabase final {
public:
    UserDatabase(QString filePath, MessageBoxService& messages);

    const QString& FilePath() const { return m_filePath; }

    // Fills the table from the file, or leaves it empty; shows its own messages.
    // A version-1 file is converted and saved as version 2 at once.
    void Load(UserTable& table);
    // Writes the whole table as version 2; shows "Could not save user database." and
    // returns false when it could not. The table itself is never changed. A file Load could
    // not read is first moved to KeepPath(), never overwritten.
    bool Save(const UserTable& table);
    // Where the file that Load could not read (another version, damaged, not a regular file)
    // goes before the next save; empty when there is no such file.
    const QString& KeepPath() const { return m_keepPath; }

private:
    void KeepUnreadableFile();

    QString m_filePath;
    QString m_keepPath;
    MessageBoxService& m_messages;
};

// Asks the operator for the first administration account (the real one is a dialog).
class AdminAccountPrompt {
public:
    virtual ~AdminAccountPrompt() = default;
    // True and the record filled when the operator confirmed.
    virtual bool AskForAdminAccount(UserRecord& record) = 0;
};

// When the table is empty: ask for an administration account and save it; when it stays
// empty, tell the operator that nobody can log in.
void RunFirstRunAccountFlow(UserTable& table, UserDatabase& database, AdminAccountPrompt& prompt,
                            MessageBoxService& messages);

}  // namespace orvane
