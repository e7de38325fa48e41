// Users for tests: one record filled the way the dialogs fill it.
#pragma once

#include "users/UserRecord.h"

namespace orvane::test {

inline UserRecord MakeUser(const char* name, const char* password, int canLogin = 1,
                           int canUseDos = 1, int canShutdown = 1, const char* greeting = "") {
    UserRecord record;
    record.canLogin = canLogin;
    record.canUseDos = canUseDos;
    record.canShutdown = canShutdown;
    CopyText(record.name, kNameSize, name, kNameSize - 1);
    CopyText(record.password, kPasswordSize, password, kPasswordSize - 1);
    CopyText(record.greeting, kGreetingSize, greeting, kGreetingSize - 1);
    return record;
}

// Puts the record into the next free slot.
inline void AppendUser(UserTable& table, const UserRecord& record) {
    table.records[table.count++] = record;
}

}  // namespace orvane::test
