// Standard output of the console server, written without ever making the server wait.
#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

namespace orvane {

// Lines are written as far as the descriptor takes them at once; the rest waits in a buffer
// of at most a mebibyte and goes out when the descriptor is writable again. A line that does
// not fit is dropped and counted, and once the output flows again one line says how many
// were lost. The descriptor's own flags are not touched: it may be a terminal shared with
// the shell that started the program.
class ConsoleOutput final : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kDefaultLimit = 1024 * 1024;

    explicit ConsoleOutput(int fd, qsizetype limit = kDefaultLimit, QObject* parent = nullptr);

    void WriteLine(const QByteArray& line);
    // Writes what the descriptor takes now; true when nothing is left waiting.
    bool Flush();

    qsizetype Buffered() const { return m_buffer.size(); }
    qint64 Dropped() const { return m_dropped; }

    // The line that reports lost lines, as written.
    static QByteArray DroppedLine(qint64 count);

private:
    void WatchWritable(bool on);

    int m_fd;
    qsizetype m_limit;
    QByteArray m_buffer;
    qint64 m_dropped = 0;
    bool m_broken = false;
    QSocketNotifier* m_writable = nullptr;
};

}  // namespace orvane
