// Reading one line from standard input, without echo when it is a terminal.
#pragma once

#include <QByteArray>

namespace orvane {

// Longer lines are read to their end and cut here; nobody types a longer password.
inline constexpr int kMaxInputLine = 4096;

enum class LineRead { Line, EndOfInput };

// Reads up to the next line feed, one byte at a time so that nothing after it is taken from
// the descriptor; a carriage return before the line feed is dropped. EndOfInput when the
// input ended before any byte of a line.
LineRead ReadInputLine(int fd, QByteArray& line);

// The same on a terminal with its echo turned off (the line feed still shows), restored
// afterwards, also when SIGINT, SIGTERM or SIGHUP end the program meanwhile. Lines typed
// ahead are kept, so a second prompt finds its answer.
LineRead ReadLineWithoutEcho(int fd, QByteArray& line);

}  // namespace orvane
