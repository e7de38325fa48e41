// Per-process temporary HOME and XDG directories.
#include "TestEnvironment.h"

#include <QDir>
#include <QTemporaryDir>
#include <QUuid>
#include <cstdlib>
#include <memory>

#include "platform/ProcessSignals.h"

namespace orvane::test {

namespace {
QString g_root;

void SetDir(const char* variable, const QString& path) {
    QDir().mkpath(path);
    setenv(variable, path.toLocal8Bit().constData(), 1);
}
}  // namespace

QString IsolateEnvironment() {
    static std::unique_ptr<QTemporaryDir> holder;
    if (!g_root.isEmpty()) return g_root;
    holder =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/orvane-test-XXXXXX"));
    g_root = holder->path();
    SetDir("HOME", g_root + QStringLiteral("/home"));
    SetDir("XDG_CONFIG_HOME", g_root + QStringLiteral("/config"));
    SetDir("XDG_CONFIG_DIRS", g_root + QStringLiteral("/etc-xdg"));
    SetDir("XDG_DATA_HOME", g_root + QStringLiteral("/data"));
    SetDir("XDG_CACHE_HOME", g_root + QStringLiteral("/cache"));
    const QString runtime = g_root + QStringLiteral("/runtime");
    SetDir("XDG_RUNTIME_DIR", runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Never let a test reach the machine's power interface.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    // The program's own start-up does this too: a gone reader is EPIPE, not the end.
    IgnoreBrokenPipeSignal();
    return g_root;
}

QString IsolateEnvironmentInMemory() {
    if (qEnvironmentVariableIsEmpty("TMPDIR") && QDir(QStringLiteral("/dev/shm")).exists()) {
        setenv("TMPDIR", "/dev/shm", 1);
    }
    return IsolateEnvironment();
}

QString IsolatedRoot() {
    return g_root;
}

QString MakeTempDir(const QString& hint) {
    const QString path = g_root + QStringLiteral("/") + hint + QStringLiteral("-") +
                         QUuid::createUuid().toString(QUuid::Id128).left(12);
    QDir().mkpath(path);
    return path;
}

}  // namespace orvane::test
