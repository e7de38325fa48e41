// Regular-file checks around open(2).
#include "platform/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>

namespace orvane {

int OpenRegularFile(const QString& path, int flags, mode_t createMode) {
    if (path.isEmpty()) {
        errno = ENOENT;
        return -1;
    }
    const int fd =
        ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC | O_NONBLOCK, createMode);
    if (fd < 0) return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    // Regular files ignore O_NONBLOCK; drop it all the same so writes stay plain.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool IsRegularFileOrMissing(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return errno == ENOENT;
    return S_ISREG(info.st_mode);
}

}  // namespace orvane
