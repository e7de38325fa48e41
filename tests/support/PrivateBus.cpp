// A private session bus for tests.
#include "PrivateBus.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QFile>
#include <QUuid>

#include "TestEnvironment.h"

namespace orvane::test {

PrivateBus::PrivateBus() {
    const QString dir = MakeTempDir(QStringLiteral("bus"));
    // No service directory with files in it: a test must never make the bus start a program.
    const QString services = dir + QStringLiteral("/services");
    QFile config(dir + QStringLiteral("/bus.conf"));
    if (!config.open(QIODevice::WriteOnly)) return;
    config.write(
        QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                       "Configuration 1.0//EN\"\n"
                       " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                       "<busconfig>\n"
                       "  <type>session</type>\n"
                       "  <listen>unix:dir=%1</listen>\n"
                       "  <servicedir>%2</servicedir>\n"
                       "  <auth>EXTERNAL</auth>\n"
                       "  <policy context=\"default\">\n"
                       "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                       "    <allow eavesdrop=\"true\"/>\n"
                       "    <allow own=\"*\"/>\n"
                       "  </policy>\n"
                       "</busconfig>\n")
            .arg(dir, services)
            .toUtf8());
    config.close();

    m_daemon.setProgram(QStringLiteral("dbus-daemon"));
    m_daemon.setArguments({QStringLiteral("--config-file=") + config.fileName(),
                           QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon.start();
    if (!m_daemon.waitForStarted(5000)) return;
    const QDeadlineTimer deadline(5000);
    while (!m_daemon.canReadLine() && !deadline.hasExpired() &&
           m_daemon.state() == QProcess::Running)
        m_daemon.waitForReadyRead(100);
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    for (const QString& name : std::as_const(m_connectionNames))
        QDBusConnection::disconnectFromBus(name);
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(3000)) {
            m_daemon.kill();
            m_daemon.waitForFinished(3000);
        }
    }
}

QDBusConnection PrivateBus::Connect() {
    const QString name =
        QStringLiteral("orvane-test-") + QUuid::createUuid().toString(QUuid::Id128);
    m_connectionNames.append(name);
    return QDBusConnection::connectToBus(m_address, name);
}

void PrivateBus::Disconnect(const QString& connectionName) {
    m_connectionNames.removeAll(connectionName);
    QDBusConnection::disconnectFromBus(connectionName);
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return condition();
}

QDBusMessage CallAndWait(const QDBusConnection& connection, const QDBusMessage& call) {
    QDBusPendingCall pending = connection.asyncCall(call, 5000);
    WaitFor([&] { return pending.isFinished(); }, 6000);
    return pending.reply();
}

}  // namespace orvane::test
