// Where the program's files live, all derived from the program's own path.
#pragma once

#include <QString>

#include "config/SettingsTable.h"

namespace orvane {

// The rules work on the program path P. The file name part is upper-cased and the
// directory keeps its case, because Linux names are case-sensitive.
class FileLocations final {
public:
    // With a private data directory (an installed copy, see PrivateDataDirectory), the data
    // file and the default log file lie there under the names the rules give them; the
    // sounds stay beside the program. Without one, everything is beside the program.
    explicit FileLocations(const QString& programPath, const QString& privateDataDirectory = {});

    // The locations of the running copy: the installed-copy rule applied to its directory.
    static FileLocations ForProgram(const QString& programPath);

    const QString& ProgramPath() const { return m_programPath; }
    // P with its extension replaced by ".HLP" (appended when P has none).
    const QString& HelpFilePath() const { return m_helpFilePath; }
    // HelpFilePath with the file name upper-cased and ".DAT" written over the first ".HLP",
    // the string ending there (its name in the private data directory, when there is one).
    const QString& DataFilePath() const { return m_dataFilePath; }
    // HelpFilePath with the file name upper-cased and every ".HLP" replaced by ".LOG" (its
    // name in the private data directory, when there is one).
    QString DefaultLogFile() const;
    // Empty for a copy that keeps everything beside itself.
    const QString& PrivateDataDirectory() const { return m_privateDataDirectory; }
    // The program directory followed by "/LOGIN.WAV" or "/LOGOUT.WAV".
    QString DefaultLoginSound() const;
    QString DefaultLogoutSound() const;

    // The file a path option names when the settings hold none.
    QString Default(const PathSetting& option) const;

private:
    QString UpperCasedHelpPath() const;
    QString SoundDefault(const char* fileName) const;
    QString InDataDirectory(const QString& path) const;

    QString m_programPath;
    QString m_privateDataDirectory;
    QString m_helpFilePath;
    QString m_dataFilePath;
};

}  // namespace orvane
