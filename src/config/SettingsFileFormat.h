// The settings file's text form: sections of key=value lines, every value plain text.
#pragma once

#include <QByteArray>
#include <QSettings>

namespace orvane {

// The format settings stores read and write their file with. Values are always text: no
// line of the file can make the reader build a typed object, however it was edited.
QSettings::Format SettingsFileFormat();

// Reads the file's text into "section/key" → text. False when a line is neither a section,
// a key=value pair, a comment nor blank (the readable lines are still taken).
bool ParseSettingsText(const QByteArray& text, QSettings::SettingsMap& map);
QByteArray FormatSettingsText(const QSettings::SettingsMap& map);

}  // namespace orvane
