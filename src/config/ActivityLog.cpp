// The activity log: entries to the observers and, one line each, to the log file.
#include "config/ActivityLog.h"

#include <cstdio>

#include "config/FileLocations.h"
#include "config/LogFileWriter.h"
#include "config/SettingsStore.h"

namespace orvane {

namespace {
constexpr const char* kServerWho = "!Server";
constexpr const char* kLogFailed = "Cant access log file!";

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
    // Escaped once, here: the list, the console and the file all show what a client sent
    // without a terminal ever acting on its control bytes.
    const ActivityEntry entry{EscapeControlBytes(who), TimeText(m_clock()),
                              EscapeControlBytes(what)};
    emit entryAdded(entry);
    if (m_settings.Read(setting::EnableLog) == 0) return;
    const QString path = m_settings.Read(setting::LogFile, m_locations);
    const std::int64_t limit = std::int64_t(m_settings.Read(setting::LogMaxSize)) * 1024;
    if (!AppendLogLine(path, LogLine(entry), limit)) {
        emit entryAdded(ActivityEntry{QByteArray(kServerWho), entry.when, QByteArray(kLogFailed)});
    }
}

}  // namespace orvane
