// Listing, adding, changing and deleting users from the command line, without a display.
#pragma once

#include <unistd.h>

#include <QString>
#include <cstdio>

namespace orvane {

struct CommandLine;

// The texts of the user commands, besides the database's and the Users page's own.
inline constexpr const char* kServerRunningText =
    "Orvane is running: change users in Configure... \u2192 Users, or stop it first.";
inline constexpr const char* kPasswordsDifferText = "The passwords do not match.";
inline constexpr const char* kNoPasswordText = "No password was given.";
inline constexpr const char* kNoSuchUserFormat = "There is no user named \"%1\".";
inline constexpr const char* kEmptyNameText = "The user name must not be empty.";
inline constexpr const char* kNameControlText =
    "The user name must not contain control characters.";
inline constexpr const char* kTooLongFormat = "The %1 must be at most %2 bytes long.";
inline constexpr const char* kNotUtf8Text = "The password must be UTF-8 text.";
inline constexpr const char* kLockFailedFormat = "Cannot lock %1: %2";
inline constexpr const char* kAddedFormat = "Added user \"%1\".";
inline constexpr const char* kPasswordSetFormat = "Changed the password of \"%1\".";
inline constexpr const char* kDeletedFormat = "Deleted user \"%1\".";
inline constexpr const char* kPasswordPrompt = "Password : ";
inline constexpr const char* kRetypePrompt = "Retype password : ";

// The limits of what a user record holds, as the user dialog cuts them.
inline constexpr int kNameLimit = 127;
inline constexpr int kPasswordLimit = 127;
inline constexpr int kGreetingLimit = 498;
// A terminal asks again after an empty or mistyped password, this many times in all.
inline constexpr int kPasswordAttempts = 3;

struct UserCommandStreams {
    int input = STDIN_FILENO;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
};

// Runs one user command of the command line on the database file and returns the exit
// status: 0 done, 1 refused or failed (the reason on the error stream). Changes are made
// under the exclusive instance lock and refused while a running Orvane holds it; the list
// only reads the file, which a save always replaces whole.
int RunUserCommand(const CommandLine& command, const QString& databasePath,
                   const UserCommandStreams& streams = {});

}  // namespace orvane
