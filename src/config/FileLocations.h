// Where the program's files live, all derived from the program's own path.
#pragma once

#include <QString>

#include "config/SettingsTable.h"

namespace orvane {

// The rules work on the program path P. The file name part is upper-cased and the
// directory keeps its case, because Linux names are case-sensitive.
class FileLocations final {
public:
    explicit FileLocations(const QString& programPath);

    const QString& ProgramPath() const { return m_programPath; }
    // P with its extension replaced by ".HLP" (appended when P has none).
    const QString& HelpFilePath() const { return m_helpFilePath; }
    // HelpFilePath with the file name upper-cased and ".DAT" written over the first ".HLP",
    // the string ending there.
    const QString& DataFilePath() const { return m_dataFilePath; }
    // HelpFilePath with the file name upper-cased and every ".HLP" replaced by ".LOG".
    QString DefaultLogFile() const;
    // The program directory followed by "/LOGIN.WAV" or "/LOGOUT.WAV".
    QString DefaultLoginSound() const;
    QString DefaultLogoutSound() const;

    // The file a path option names when the settings hold none.
    QString Default(const PathSetting& option) const;

private:
    QString UpperCasedHelpPath() const;
    QString SoundDefault(const char* fileName) const;

    QString m_programPath;
    QString m_helpFilePath;
    QString m_dataFilePath;
};

}  // namespace orvane
