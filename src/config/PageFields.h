// How the configuration pages read their number fields and store their multi-line texts.
#pragma once

#include <QString>

namespace orvane {

// The number fields are read from their first 98 characters.
inline constexpr int kNumberFieldChars = 98;

// Reads the text as the C library's atoi does: leading white space, an optional sign,
// digits up to the first other character, 0 when there are none. Unlike atoi, a value
// beyond 32 bits saturates at the nearest limit instead of being undefined.
int AtoiPrefix(const QString& text, int maxChars = kNumberFieldChars);

// Stored texts break their lines with CR LF, as the clients receive them; an edit control
// shows them with plain line feeds.
QString ToStoredLineBreaks(const QString& editText);
QString ToEditLineBreaks(const QString& storedText);

}  // namespace orvane
