// The user database file: version 2 written whole, version 1 read and converted.
#pragma once

#include <QString>

#include "users/UserRecord.h"

namespace orvane {

class MessageBoxService;

class UserDatabase final {
public:
    UserDatabase(QString filePath, MessageBoxService& messages);

    const QString& FilePath() const { return m_filePath; }

    // Fills the table from the file, or leaves it empty; shows its own messages.
    // A version-1 file is converted and saved as version 2 at once.
    void Load(UserTable& table);
    // Writes the whole table as version 2; shows "Could not save user database." and
    // returns false when it could not. The table itself is never changed.
    bool Save(const UserTable& table);

private:
    QString m_filePath;
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
