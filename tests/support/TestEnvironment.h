// Every test process runs in its own temporary HOME and XDG directories, so that no test
// reads or writes the operator's settings, user database, log file or autostart list.
#pragma once

#include <QString>

namespace orvane::test {

// Points HOME, XDG_CONFIG_HOME, XDG_CONFIG_DIRS, XDG_DATA_HOME, XDG_RUNTIME_DIR and
// XDG_CACHE_HOME into a fresh temporary directory, and ignores SIGPIPE as the program's
// start-up does. Call before the Qt application object is created. Returns that directory.
QString IsolateEnvironment();

// The same, with the temporary directory in memory where the machine has one: the fuzzers
// write and sync settings files for every input.
QString IsolateEnvironmentInMemory();

// The isolated root chosen by IsolateEnvironment().
QString IsolatedRoot();

// A fresh empty directory below the isolated root, for one test's program directory.
QString MakeTempDir(const QString& hint = QStringLiteral("dir"));

}  // namespace orvane::test
