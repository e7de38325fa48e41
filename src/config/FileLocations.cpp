// File locations derived from the program path.
#include "config/FileLocations.h"

#include "config/DataDirectory.h"

namespace orvane {

namespace {

int FileNameStart(const QString& path) {
    return path.lastIndexOf(QLatin1Char('/')) + 1;
}

QString WithHelpExtension(const QString& path) {
    const int nameStart = FileNameStart(path);
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot >= nameStart) return path.left(dot) + QStringLiteral(".HLP");
    return path + QStringLiteral(".HLP");
}

}  // namespace

FileLocations::FileLocations(const QString& programPath, const QString& privateDataDirectory)
    : m_programPath(programPath),
      m_privateDataDirectory(privateDataDirectory),
      m_helpFilePath(WithHelpExtension(programPath)) {
    m_dataFilePath = UpperCasedHelpPath();
    const int first = m_dataFilePath.indexOf(QStringLiteral(".HLP"));
    if (first >= 0) m_dataFilePath = m_dataFilePath.left(first) + QStringLiteral(".DAT");
    m_dataFilePath = InDataDirectory(m_dataFilePath);
}

FileLocations FileLocations::ForProgram(const QString& programPath) {
    return FileLocations(programPath, orvane::PrivateDataDirectory(programPath));
}

QString FileLocations::InDataDirectory(const QString& path) const {
    if (m_privateDataDirectory.isEmpty()) return path;
    return m_privateDataDirectory + QLatin1Char('/') + path.mid(FileNameStart(path));
}

QString FileLocations::UpperCasedHelpPath() const {
    const int nameStart = FileNameStart(m_helpFilePath);
    return m_helpFilePath.left(nameStart) + m_helpFilePath.mid(nameStart).toUpper();
}

QString FileLocations::DefaultLogFile() const {
    QString path = UpperCasedHelpPath();
    if (!path.contains(QStringLiteral(".HLP")))
        return InDataDirectory(QStringLiteral("/ORVANE.LOG"));
    return InDataDirectory(path.replace(QStringLiteral(".HLP"), QStringLiteral(".LOG")));
}

QString FileLocations::SoundDefault(const char* fileName) const {
    const QString path = UpperCasedHelpPath();
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return path;
    return path.left(slash + 1) + QLatin1String(fileName);
}

QString FileLocations::DefaultLoginSound() const {
    return SoundDefault("LOGIN.WAV");
}
QString FileLocations::DefaultLogoutSound() const {
    return SoundDefault("LOGOUT.WAV");
}

QString FileLocations::Default(const PathSetting& option) const {
    switch (option.source) {
        case PathDefault::LogFile:
            return DefaultLogFile();
        case PathDefault::LoginSound:
            return DefaultLoginSound();
        case PathDefault::LogoutSound:
            return DefaultLogoutSound();
    }
    return {};
}

}  // namespace orvane
