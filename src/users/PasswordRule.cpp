// The password rule for new and edited accounts.
#include "users/PasswordRule.h"

namespace orvane {

const char* PasswordRefusal(const char* password, bool canLogin) {
    if (canLogin && (password == nullptr || password[0] == '\0')) return kEmptyPasswordText;
    return nullptr;
}

}  // namespace orvane
