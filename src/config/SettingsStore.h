// The settings store: the four profile operations on the per-user settings file.
// Nothing is cached: every read first picks up what another program wrote since.
#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "config/SettingsTable.h"

class QSettings;

namespace orvane {

class FileLocations;

class SettingsStore final {
public:
    // The real store: the per-user file of company "Quorvex", application "Orvane"
    // ($XDG_CONFIG_HOME/Quorvex/Orvane.conf), in the plain-text form of SettingsFileFormat.
    SettingsStore();
    // A store on an explicit file, for tools and tests that must not touch the user's own.
    explicit SettingsStore(const QString& iniFilePath);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The profile operations, by section and key. An absent value, or an integer key that
    // holds something other than a 32-bit decimal number, reads as the given default.
    int GetProfileInt(const QString& section, const QString& key, int defaultValue);
    QString GetProfileString(const QString& section, const QString& key,
                             const QString& defaultValue);
    bool WriteProfileInt(const QString& section, const QString& key, int value);
    // A file holding lines that cannot be read is kept beside it as "<file>.unreadable"
    // before the first write rewrites it; a write that cannot keep it fails instead.
    bool WriteProfileString(const QString& section, const QString& key, const QString& value);

    // Typed access to the table's options in section "Settings".
    int Read(const IntSetting& option);
    QString Read(const TextSetting& option);
    // A path option's default is a file beside the program, which the locations know.
    QString Read(const PathSetting& option, const FileLocations& locations);
    void Write(const IntSetting& option, int value);
    void Write(const TextSetting& option, const QString& value);
    void Write(const PathSetting& option, const QString& value);

    QString FilePath() const;

private:
    bool WriteValue(const QString& section, const QString& key, const QString& value);

    std::function<std::unique_ptr<QSettings>()> m_open;
    std::unique_ptr<QSettings> m_settings;
};

// Parses a stored integer strictly: optional blanks, an optional sign, decimal digits,
// within 32 bits. Anything else is not a number.
bool ParseStoredInt(const QString& text, int* value);

}  // namespace orvane
