// Placeholder until the database file is implemented.
#include "users/UserDatabase.h"

#include "platform/MessageBox.h"

namespace orvane {

UserDatabase::UserDatabase(QString filePath, MessageBoxService& messages)
    : m_filePath(std::move(filePath)), m_messages(messages) {}

void UserDatabase::Load(UserTable& table) { table.count = 0; }

bool UserDatabase::Save(const UserTable&) { return false; }

void RunFirstRunAccountFlow(UserTable&, UserDatabase&, AdminAccountPrompt&, MessageBoxService&) {}

}  // namespace orvane
