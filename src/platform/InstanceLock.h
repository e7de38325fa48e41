// The advisory lock that tells the command line's user changes that Orvane is running.
#pragma once

#include <QString>
#include <QtGlobal>
#include <chrono>

namespace orvane {

// A lock on a file beside the user database (flock). A running server holds it shared for
// its whole run, so that several may run side by side; a change to the users from the
// command line holds it exclusively for the moment of its load and save, and is refused
// while any server holds it. The lock ends with its holder, however that ends.
class InstanceLock final {
public:
    enum class Kind { Shared, Exclusive };
    enum class Result {
        Held,    // taken (or held already)
        Busy,    // another holder stands in the way
        Failed,  // the lock file cannot be opened or locked; Error() says why
    };

    explicit InstanceLock(QString path);
    ~InstanceLock();
    Q_DISABLE_COPY_MOVE(InstanceLock)

    // The lock file for a database file: its path with ".lock" appended.
    static QString PathFor(const QString& databasePath);

    // Takes the lock without waiting when patience is zero; otherwise tries again every few
    // milliseconds until it is taken or the patience has run out.
    Result Take(Kind kind, std::chrono::milliseconds patience = std::chrono::milliseconds(0));
    void Release();

    bool IsHeld() const { return m_held; }
    const QString& Path() const { return m_path; }
    // The errno of the last failure.
    int Error() const { return m_error; }

private:
    QString m_path;
    int m_fd = -1;
    bool m_held = false;
    int m_error = 0;
};

}  // namespace orvane
