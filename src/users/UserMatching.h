// Name and password comparison for logins and the user list: ASCII letters fold, nothing else.
#pragma once

#include "users/UserRecord.h"

namespace orvane {

// True when the two NUL-terminated texts are equal when the case of A-Z is ignored.
bool EqualsIgnoringAsciiCase(const char* a, const char* b);

// The first slot, in table order, whose name and password match without regard to case
// and whose canLogin is set; -1 when none does.
int FindLoginRecord(const UserTable& table, const char* user, const char* password);

// True when a used slot other than exemptSlot (-1 for none) holds the given name,
// ignoring ASCII case.
bool NameExists(const UserTable& table, const char* name, int exemptSlot);

}  // namespace orvane
