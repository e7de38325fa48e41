// Console output: poll says whether the descriptor takes bytes now, and each write is kept
// small enough that a pipe (PIPE_BUF) or a terminal with room takes it without waiting.
#include "platform/ConsoleOutput.h"

#include <poll.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <climits>

namespace orvane {

namespace {
// A terminal reports room from 256 free bytes on; a pipe guarantees PIPE_BUF.
qsizetype ChunkFor(int fd) {
    return ::isatty(fd) ? 256 : PIPE_BUF;
}

enum class Room { Some, None, Gone };

Room RoomNow(int fd) {
    pollfd entry{fd, POLLOUT, 0};
    if (::poll(&entry, 1, 0) != 1) return Room::None;
    if (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) return Room::Gone;
    return (entry.revents & POLLOUT) ? Room::Some : Room::None;
}
}  // namespace

ConsoleOutput::ConsoleOutput(int fd, qsizetype limit, QObject* parent)
    : QObject(parent), m_fd(fd), m_limit(limit) {}

QByteArray ConsoleOutput::DroppedLine(qint64 count) {
    return "Orvane: " + QByteArray::number(count) +
           " lines of output were dropped while the output was not read.\n";
}

void ConsoleOutput::WriteLine(const QByteArray& line) {
    if (m_broken) return;
    if (m_buffer.size() + line.size() > m_limit) {
        ++m_dropped;
        WatchWritable(true);
        return;
    }
    m_buffer += line;
    Flush();
}

bool ConsoleOutput::Flush() {
    const qsizetype chunk = ChunkFor(m_fd);
    for (;;) {
        if (m_buffer.isEmpty() && m_dropped > 0) {
            // Everything held has gone out: the output flows again.
            m_buffer = DroppedLine(m_dropped);
            m_dropped = 0;
        }
        if (m_buffer.isEmpty() || m_broken) break;
        const Room room = RoomNow(m_fd);
        if (room == Room::None) break;
        ssize_t written = -1;
        if (room == Room::Some) {
            written = ::write(m_fd, m_buffer.constData(),
                              static_cast<size_t>(std::min(chunk, m_buffer.size())));
            if (written < 0 && errno == EINTR) continue;
            if (written < 0 && errno == EAGAIN) break;
        }
        if (written < 0) {
            // Nobody will read this output any more (a closed pipe): the server goes on.
            m_broken = true;
            m_buffer.clear();
            m_dropped = 0;
            break;
        }
        m_buffer.remove(0, written);
    }
    const bool done = m_buffer.isEmpty() && m_dropped == 0;
    WatchWritable(!done && !m_broken);
    return done;
}

void ConsoleOutput::WatchWritable(bool on) {
    if (on && !m_writable) {
        m_writable = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
        connect(m_writable, &QSocketNotifier::activated, this, [this] { Flush(); });
    }
    if (m_writable) m_writable->setEnabled(on);
}

}  // namespace orvane
