// Name and password comparison.
#include "users/UserMatching.h"

namespace orvane {

namespace {
unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

int UsedCount(const UserTable& table) {
    if (table.count < 0) return 0;
    return table.count > kMaxUsers ? kMaxUsers : table.count;
}
}  // namespace

bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    for (;; ++x, ++y) {
        if (FoldAscii(*x) != FoldAscii(*y)) return false;
        if (*x == 0) return true;
    }
}

int FindLoginRecord(const UserTable& table, const char* user, const char* password) {
    for (int i = 0; i < UsedCount(table); ++i) {
        const UserRecord& record = table.records[i];
        if (record.canLogin != 0 && EqualsIgnoringAsciiCase(user, record.name) &&
            EqualsIgnoringAsciiCase(password, record.password)) {
            return i;
        }
    }
    return -1;
}

bool NameExists(const UserTable& table, const char* name, int exemptSlot) {
    for (int i = 0; i < UsedCount(table); ++i) {
        if (i != exemptSlot && EqualsIgnoringAsciiCase(name, table.records[i].name)) return true;
    }
    return false;
}

}  // namespace orvane
