// Escaping, appending and rotating the log file.
#include "config/LogFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstdio>

#include "platform/RegularFile.h"

namespace orvane {

namespace {
bool WriteAll(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        left -= written;
    }
    return true;
}
}  // namespace

QByteArray EscapeControlBytes(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out.append(escaped, 4);
        } else {
            out.append(c);
        }
    }
    return out;
}

bool AppendLogLine(const QString& path, const QByteArray& line, std::int64_t maxBytes) {
    const int flags = O_WRONLY | O_APPEND | O_CREAT;
    int fd = OpenRegularFile(path, flags, 0600);
    if (fd < 0) return false;
    struct stat info {};
    if (maxBytes > 0 && ::fstat(fd, &info) == 0 && info.st_size > 0 &&
        info.st_size + line.size() > maxBytes) {
        ::close(fd);
        const QByteArray from = QFile::encodeName(path);
        // A log that cannot be moved aside is not written on: it would grow without end.
        if (::rename(from.constData(), (from + ".1").constData()) != 0) return false;
        fd = OpenRegularFile(path, flags, 0600);
        if (fd < 0) return false;
    }
    const bool ok = WriteAll(fd, line);
    ::close(fd);
    return ok;
}

}  // namespace orvane
