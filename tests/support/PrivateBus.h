// A private session bus for one test: its own dbus-daemon, never the user's session.
#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <functional>

namespace orvane::test {

class PrivateBus final {
public:
    // Starts dbus-daemon as a child with a configuration in a fresh temporary directory.
    PrivateBus();
    // Closes every connection made through Connect() and ends the daemon by its process.
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool IsRunning() const { return !m_address.isEmpty(); }
    const QString& Address() const { return m_address; }

    // A new connection to the bus under a name unique to this bus.
    QDBusConnection Connect();
    // Leaves the bus with the named connection, as a client process that exits would. The
    // socket closes only once no QDBusConnection copy refers to it any more.
    void Disconnect(const QString& connectionName);

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_connectionNames;
};

// Runs the event loop until condition() holds or timeoutMs passes; returns condition().
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000);

// Sends a call and waits for its answer while the event loop runs, so that objects of this
// process on another connection can answer it.
QDBusMessage CallAndWait(const QDBusConnection& connection, const QDBusMessage& call);

}  // namespace orvane::test
