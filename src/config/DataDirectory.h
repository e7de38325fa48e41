// Where a copy keeps its user database and default log: beside the program when the user
// can write there, otherwise in the user's own data directory.
#pragma once

#include <QString>
#include <functional>

namespace orvane {

// True when the user running the program may create files in the directory.
bool IsWritableDirectory(const QString& directory);

// The user's data directory for Orvane: $XDG_DATA_HOME/Quorvex/Orvane, by default
// ~/.local/share/Quorvex/Orvane.
QString UserDataDirectory();

// For a program whose directory the user cannot write to (an installed copy), the user's
// data directory, created with mode 0700 when missing; for any other copy an empty text,
// meaning beside the program.
QString PrivateDataDirectory(
    const QString& programPath,
    const std::function<bool(const QString&)>& writable = IsWritableDirectory);

}  // namespace orvane
