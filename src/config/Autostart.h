// The machine's list of programs started with the desktop session: the XDG autostart list.
//
// The list stands where the machine-wide Run key stands on the system this program was
// first written for. The mapping:
//   Run key          the directory <D>/autostart, D = first entry of $XDG_CONFIG_DIRS
//                    (default /etc/xdg); opening it = it exists as a usable directory
//                    (created when a value is to be added)
//   value name       the desktop file's base name: <D>/autostart/<valueName>.desktop
//   value data       the file's Exec entry: the program's full path, case kept
//   value present    the file exists, can be read and its Exec value is at most 900 bytes
//   set / delete     write / remove that file
#pragma once

#include <QString>

namespace orvane {

class MessageBoxService;

// The directory that plays the Run key.
QString RunListDirectory();
// The file that plays the value valueName.
QString RunListEntryPath(const QString& valueName);

// Enters programPath under valueName, replacing an earlier entry. An empty path or a file
// that cannot be written shows "Failed to add self to RUN list in registry."; a directory
// that cannot be created or opened does nothing and shows nothing.
void AddToRunList(const QString& valueName, const QString& programPath,
                  MessageBoxService& messages);

// Removes the entry. When it cannot be removed, also because it is already gone, shows
// "Failed to remove self from RUN list in registry."; a directory that cannot be opened
// does nothing and shows nothing.
void RemoveFromRunList(const QString& valueName, MessageBoxService& messages);

// True when an entry of that name is present, whatever program it names.
bool IsInRunList(const QString& valueName);

// The Exec value that starts programPath: the path itself, quoted and escaped only where the
// desktop entry format would otherwise split or change it.
QString ExecValueForProgram(const QString& programPath);

}  // namespace orvane
