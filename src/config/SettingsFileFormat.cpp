// The settings file's text form.
#include "config/SettingsFileFormat.h"

#include <QIODevice>
#include <QList>
#include <QStringList>

namespace orvane {

namespace {

// Keys outside any section are kept under this heading.
const QString kGeneralSection = QStringLiteral("General");

// A value keeps its blanks, line breaks, quotes and backslashes: those are written escaped
// inside quotes, everything else as it is (UTF-8).
bool NeedsQuotes(const QString& value) {
    if (value.isEmpty()) return false;
    if (value.front().isSpace() || value.back().isSpace()) return true;
    for (const QChar c : value) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\') || c == QLatin1Char(';') ||
            c == QLatin1Char('#') || c.unicode() < 0x20 || c.unicode() == 0x7f) {
            return true;
        }
    }
    return false;
}

QByteArray EscapeValue(const QString& value) {
    if (!NeedsQuotes(value)) return value.toUtf8();
    QString out = QStringLiteral("\"");
    for (const QChar c : value) {
        switch (c.unicode()) {
            case '"':
                out += QStringLiteral("\\\"");
                break;
            case '\\':
                out += QStringLiteral("\\\\");
                break;
            case '\r':
                out += QStringLiteral("\\r");
                break;
            case '\n':
                out += QStringLiteral("\\n");
                break;
            case '\t':
                out += QStringLiteral("\\t");
                break;
            default:
                if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
                    out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
                } else {
                    out += c;
                }
        }
    }
    out += QLatin1Char('"');
    return out.toUtf8();
}

int HexDigit(QChar c) {
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) return c.unicode() - '0';
    if (c >= QLatin1Char('a') && c <= QLatin1Char('f')) return c.unicode() - 'a' + 10;
    if (c >= QLatin1Char('A') && c <= QLatin1Char('F')) return c.unicode() - 'A' + 10;
    return -1;
}

// A quoted value with its escapes, or a bare one taken as it stands (blanks around it
// trimmed). False for a quoted value that does not end with its quote.
bool UnescapeValue(const QString& raw, QString* value) {
    const QString text = raw.trimmed();
    if (!text.startsWith(QLatin1Char('"'))) {
        *value = text;
        return true;
    }
    QString out;
    for (qsizetype i = 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('"')) {
            if (i != text.size() - 1) return false;
            *value = out;
            return true;
        }
        if (c != QLatin1Char('\\') || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        const QChar e = text[++i];
        switch (e.unicode()) {
            case 'r':
                out += QLatin1Char('\r');
                break;
            case 'n':
                out += QLatin1Char('\n');
                break;
            case 't':
                out += QLatin1Char('\t');
                break;
            case 'x': {
                const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
                const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
                if (high < 0 || low < 0) return false;
                out += QChar(high * 16 + low);
                i += 2;
                break;
            }
            default:
                out += e;  // \" \\ and any other escaped character stand for themselves
        }
    }
    return false;
}

bool ReadDevice(QIODevice& device, QSettings::SettingsMap& map) {
    return ParseSettingsText(device.readAll(), map);
}

bool WriteDevice(QIODevice& device, const QSettings::SettingsMap& map) {
    const QByteArray text = FormatSettingsText(map);
    return device.write(text) == text.size();
}

}  // namespace

bool ParseSettingsText(const QByteArray& text, QSettings::SettingsMap& map) {
    bool complete = true;
    QString section;
    for (const QByteArray& rawLine : text.split('\n')) {
        QString line = QString::fromUtf8(rawLine);
        if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')) ||
            trimmed.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (trimmed.startsWith(QLatin1Char('['))) {
            if (!trimmed.endsWith(QLatin1Char(']'))) {
                complete = false;
                continue;
            }
            section = trimmed.mid(1, trimmed.size() - 2).trimmed();
            if (section == kGeneralSection) section.clear();
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString key = equals < 0 ? QString() : line.left(equals).trimmed();
        QString value;
        if (key.isEmpty() || key.contains(QLatin1Char('/')) ||
            !UnescapeValue(line.mid(equals + 1), &value)) {
            complete = false;
            continue;
        }
        map.insert(section.isEmpty() ? key : section + QLatin1Char('/') + key, value);
    }
    return complete;
}

QByteArray FormatSettingsText(const QSettings::SettingsMap& map) {
    // Keys come sorted, so each section's keys stand together.
    QByteArray text;
    QString section;
    bool first = true;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(QLatin1Char('/'));
        const QString keySection = slash < 0 ? QString() : it.key().left(slash);
        const QString key = slash < 0 ? it.key() : it.key().mid(slash + 1);
        if (first || keySection != section) {
            if (!first) text += '\n';
            const QString header = keySection.isEmpty() ? kGeneralSection : keySection;
            text += '[' + header.toUtf8() + "]\n";
            section = keySection;
            first = false;
        }
        text += key.toUtf8() + '=' + EscapeValue(it.value().toString()) + '\n';
    }
    return text;
}

QSettings::Format SettingsFileFormat() {
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("conf"), ReadDevice, WriteDevice);
    return format;
}

}  // namespace orvane
