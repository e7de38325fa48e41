// The installed-copy rule: a program that cannot write beside itself writes in the user's
// data directory, one private folder per user.
#include "config/DataDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace orvane {

bool IsWritableDirectory(const QString& directory) {
    return ::access(QFile::encodeName(directory).constData(), W_OK | X_OK) == 0;
}

QString UserDataDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quorvex/Orvane");
}

QString PrivateDataDirectory(const QString& programPath,
                             const std::function<bool(const QString&)>& writable) {
    if (writable(QFileInfo(programPath).absolutePath())) return {};
    const QString directory = UserDataDirectory();
    // Every missing folder on the way is made private: the database is only the user's.
    QStringList missing;
    for (QString at = directory; !at.isEmpty() && !QFileInfo::exists(at);
         at = QFileInfo(at).path()) {
        missing.prepend(at);
        if (at == QFileInfo(at).path()) break;
    }
    for (const QString& folder : missing) {
        const QByteArray path = QFile::encodeName(folder);
        if (::mkdir(path.constData(), 0700) == 0) ::chmod(path.constData(), 0700);  // umask aside
    }
    return directory;
}

}  // namespace orvane
