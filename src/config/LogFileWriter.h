// The log file's side of the activity log: client bytes made harmless for a terminal, the
// line appended to a regular file created private, and the file rotated past its limit.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace orvane {

// Bytes below 0x20 and 0x7F written as "\xHH" (two upper-case hex digits); everything
// else is kept. A user name of ESC "[2J" then cannot clear the operator's terminal.
QByteArray EscapeControlBytes(const QByteArray& text);

// Appends `line` to the regular file `path` (created with mode 0600). When `maxBytes` is
// above 0 and the line would take the file past it, the file is first renamed to
// `path` + ".1" (replacing an older one) and a new one started. False when the file cannot
// be opened, is not a regular file, or the write fails.
bool AppendLogLine(const QString& path, const QByteArray& line, std::int64_t maxBytes);

}  // namespace orvane
