// The one rule every way of making an account follows: a user who can log in has a password.
// An empty one would let anybody in under that name, from any address.
#pragma once

namespace orvane {

inline constexpr const char* kEmptyPasswordText = "The password must not be empty.";

// The text to show when the password cannot be given to an account that may (or may not)
// log in, or nullptr when it can. Every account dialog, prompt and command asks this.
const char* PasswordRefusal(const char* password, bool canLogin = true);

}  // namespace orvane
