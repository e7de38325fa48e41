// The texts the user database shows the operator, exactly as they must appear.
#pragma once

namespace orvane {

inline constexpr const char* kConvertNoteText =
    "Note : User database will be converted to new version of Orvane.";
inline constexpr const char* kVersionMismatchText =
    "Error : User database version does not match program version.";
// Follows the mismatch text: where the file that could not be read is kept.
inline constexpr const char* kKeptAsFormat =
    "The file is not changed. It will be kept as \"%1\" before the user database is next "
    "saved.";
inline constexpr const char* kSaveFailedText = "Could not save user database.";
inline constexpr const char* kNoUsersText =
    "No users are defined. Nobody can log in to the server.";

}  // namespace orvane
