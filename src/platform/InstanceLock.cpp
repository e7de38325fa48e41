// The instance lock: flock on a file that is created once and never removed, since removing
// a lock file lets a late opener lock a file nobody else sees any more.
#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <cerrno>
#include <thread>

namespace orvane {

InstanceLock::InstanceLock(QString path) : m_path(std::move(path)) {}

InstanceLock::~InstanceLock() {
    Release();
}

QString InstanceLock::PathFor(const QString& databasePath) {
    return databasePath + QStringLiteral(".lock");
}

InstanceLock::Result InstanceLock::Take(Kind kind, std::chrono::milliseconds patience) {
    if (m_held) return Result::Held;
    if (m_fd < 0) {
        const QByteArray path = QFile::encodeName(m_path);
        m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0) {
            m_error = errno;
            return Result::Failed;
        }
    }
    const int operation = (kind == Kind::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (::flock(m_fd, operation) == 0) {
            m_held = true;
            return Result::Held;
        }
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) {
            m_error = errno;
            return Result::Failed;
        }
        if (waited.elapsed() >= patience.count()) {
            m_error = EWOULDBLOCK;
            return Result::Busy;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void InstanceLock::Release() {
    if (m_fd >= 0) ::close(m_fd);  // closing the only descriptor ends the lock
    m_fd = -1;
    m_held = false;
}

}  // namespace orvane
