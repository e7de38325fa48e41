// Field reading for the configuration pages.
#include "config/PageFields.h"

#include <climits>

namespace orvane {

int AtoiPrefix(const QString& text, int maxChars) {
    const QString field = text.left(maxChars);
    qsizetype i = 0;
    const auto isBlank = [](QChar c) {
        return c == QLatin1Char(' ') || (c.unicode() >= '\t' && c.unicode() <= '\r');
    };
    while (i < field.size() && isBlank(field[i])) ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == QLatin1Char('+') || field[i] == QLatin1Char('-'))) {
        negative = field[i] == QLatin1Char('-');
        ++i;
    }
    long long value = 0;
    for (; i < field.size() && field[i] >= QLatin1Char('0') && field[i] <= QLatin1Char('9'); ++i) {
        if (value <= static_cast<long long>(INT_MAX) + 1)
            value = value * 10 + (field[i].unicode() - '0');
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

QString ToStoredLineBreaks(const QString& editText) {
    QString stored = editText;
    stored.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    stored.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return stored;
}

QString ToEditLineBreaks(const QString& storedText) {
    QString shown = storedText;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

}  // namespace orvane
