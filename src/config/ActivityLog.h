// The activity log: one entry per event, produced once and taken by every observer
// (the window's list model, the log file, the console printer).
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>

namespace orvane {

class SettingsStore;
class FileLocations;

// Texts are bytes end to end: who and what are kept as the client sent them, except that
// control bytes (below 0x20, and 0x7F) are written "\xHH".
struct ActivityEntry {
    QByteArray who;
    QByteArray when;  // the time text, "7/4/1999 9:05:03"
    QByteArray what;
};

class ActivityLog final : public QObject {
    Q_OBJECT
public:
    ActivityLog(SettingsStore& settings, const FileLocations& locations, QObject* parent = nullptr);

    // Records one entry: tells the observers, then appends the line to the log file when
    // "EnableLog" is on (moved to "<file>.1" past "LogMaxSize" KB). A file that cannot be
    // opened, or is no regular file, adds the "!Server" row.
    void LogActivity(const QByteArray& who, const QByteArray& what);

    // The clock, replaceable in tests.
    void SetClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    // "%d/%d/%d %d:%02d:%02d": month, day, year, hour, minute, second.
    static QByteArray TimeText(const QDateTime& localTime);
    // "%-25s%-25s%s\r\n".
    static QByteArray LogLine(const ActivityEntry& entry);

signals:
    void entryAdded(const orvane::ActivityEntry& entry);

private:
    SettingsStore& m_settings;
    const FileLocations& m_locations;
    std::function<QDateTime()> m_clock;
};

}  // namespace orvane
