// The Users page's changes to its copy of the table, and how typed texts fit a record.
#pragma once

#include <QString>

#include "users/UserRecord.h"

namespace orvane {

// The page refuses a new user at this many: one fewer than the table's slots.
inline constexpr int kMaxPageUsers = kMaxUsers - 1;

// The typed text as UTF-8, cut to at most maxBytes without splitting a character or a
// CR LF pair, and stopping at an embedded NUL (which a record's text cannot hold).
QByteArray CutUtf8(const QString& text, int maxBytes);
// The same for text that is UTF-8 already (what a terminal delivers).
QByteArray CutUtf8Bytes(QByteArray bytes, int maxBytes);

// Puts the typed text into a record field, cut as above.
void SetRecordText(char* field, int fieldSize, const QString& text, int maxBytes);

// The administration account of the first run, from the dialog or the console prompt: all
// three rights, no greeting, name and password (UTF-8) cut to 126 bytes as above.
inline constexpr int kAdminTextBytes = 126;
UserRecord AdminAccountRecord(const QByteArray& name, const QByteArray& password);

// A record field as text for an edit control.
QString RecordText(const char* field, int fieldSize);

// Copies the record into slot count and counts it; returns its slot, or -1 when the table
// holds kMaxPageUsers users already.
int AppendUser(UserTable& table, const UserRecord& record);

// Empties the slot by moving the last used record into it. Returns the slot the moved
// record came from, or -1 when the slot was the last one (nothing moved) or out of range.
int RemoveUser(UserTable& table, int slot);

}  // namespace orvane
