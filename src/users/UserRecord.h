// The user record and the table of 99 of them, laid out as they stand in the database file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orvane {

inline constexpr int kMaxUsers = 99;
inline constexpr int kNameSize = 128;
inline constexpr int kPasswordSize = 128;
inline constexpr int kGreetingSize = 500;

// 768 bytes; integers are little-endian 32-bit (the host order on every supported machine).
// Texts are bytes (UTF-8 when typed in the dialogs), each NUL-terminated inside its field.
struct UserRecord {
    std::int32_t canLogin = 0;
    std::int32_t canUseDos = 0;
    std::int32_t canShutdown = 0;
    char name[kNameSize] = {};
    char password[kPasswordSize] = {};
    char greeting[kGreetingSize] = {};
};
static_assert(sizeof(UserRecord) == 768, "UserRecord must be 768 bytes");
static_assert(offsetof(UserRecord, name) == 12);
static_assert(offsetof(UserRecord, password) == 140);
static_assert(offsetof(UserRecord, greeting) == 268);

struct UserTable {
    std::int32_t count = 0;
    UserRecord records[kMaxUsers] = {};
};

// Copies a NUL-terminated text into a field, cut to at most maxChars bytes and terminated.
inline void CopyText(char* field, int fieldSize, const char* text, int maxChars) {
    std::memset(field, 0, fieldSize);
    int length = static_cast<int>(std::strlen(text));
    if (length > maxChars) length = maxChars;
    if (length > fieldSize - 1) length = fieldSize - 1;
    std::memcpy(field, text, length);
}

}  // namespace orvane
