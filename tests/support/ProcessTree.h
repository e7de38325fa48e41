// What runs below a process, from /proc: a shell over pipes has no foreground group to
// watch, so an interrupt test waits until the shell's command has really started, not
// merely until the output before it arrived.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <vector>

namespace orvane::test {

// The children of every thread of `pid` (the kernel lists them per thread).
inline std::vector<qint64> ChildrenOf(qint64 pid) {
    std::vector<qint64> children;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks + QLatin1Char('/') + task + QStringLiteral("/children"));
        if (!file.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& child : file.readAll().split(' ')) {
            if (!child.trimmed().isEmpty()) children.push_back(child.trimmed().toLongLong());
        }
    }
    return children;
}

// Whether a descendant of `root`, at most `depth` generations down, runs `command` (the
// name the kernel shows once it has been executed).
inline bool DescendantRuns(qint64 root, const QByteArray& command, int depth = 3) {
    if (depth <= 0) return false;
    for (const qint64 child : ChildrenOf(root)) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(child));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == command) return true;
        if (DescendantRuns(child, command, depth - 1)) return true;
    }
    return false;
}

}  // namespace orvane::test
