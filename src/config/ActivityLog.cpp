// The activity log: entries to the observers and, one line each, to the log file.
#include "config/ActivityLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstdio>

#include "config/FileLocations.h"
#include "config/SettingsStore.h"

namespace orvane {

namespace {
constexpr const char* kServerWho = "!Server";
constexpr const char* kLogFailed = "Cant access log file!";

// Appends the whole line; false when the file cannot be opened or written.
bool AppendToFile(const QString& path, const QByteArray& line) {
    if (path.isEmpty()) return false;
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const char* data = line.constData();
    qsizetype left = line.size();
    bool ok = true;
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            ok = false;
            break;
        }
        data += written;
        left -= written;
    }
    ::close(fd);
    return ok;
}
}  // namespace

ActivityLog::ActivityLog(SettingsStore& settings, const FileLocations& locations, QObject* parent)
    : QObject(parent),
      m_settings(settings),
      m_locations(locations),
      m_clock([] { return QDateTime::currentDateTime(); }) {}

QByteArray ActivityLog::TimeText(const QDateTime& localTime) {
    const QDate date = localTime.date();
    const QTime time = localTime.time();
    char text[64];
    std::snprintf(text, sizeof text, "%d/%d/%d %d:%02d:%02d", date.month(), date.day(), date.year(),
                  time.hour(), time.minute(), time.second());
    return QByteArray(text);
}

QByteArray ActivityLog::LogLine(const ActivityEntry& entry) {
    // Assembled in storage that grows with its texts: a long host name or command line
    // pushes the fields right and is never cut or written past the end.
    QByteArray line;
    line.reserve(entry.when.size() + entry.who.size() + entry.what.size() + 52);
    line += entry.when.leftJustified(25, ' ');
    line += entry.who.leftJustified(25, ' ');
    line += entry.what;
    line += "\r\n";
    return line;
}

void ActivityLog::LogActivity(const QByteArray& who, const QByteArray& what) {
    const ActivityEntry entry{who, TimeText(m_clock()), what};
    emit entryAdded(entry);
    if (m_settings.Read(setting::EnableLog) == 0) return;
    const QString path = m_settings.Read(setting::LogFile, m_locations);
    if (!AppendToFile(path, LogLine(entry))) {
        emit entryAdded(ActivityEntry{QByteArray(kServerWho), entry.when, QByteArray(kLogFailed)});
    }
}

}  // namespace orvane
