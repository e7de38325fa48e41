// Registration of the automation object: service file, class factory and the one request.
#include "automation/AutomationServer.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include "automation/AutomationIds.h"
#include "automation/OrvaneClassFactory.h"
#include "platform/Logging.h"

namespace orvane {

using namespace automation;

bool IsAutomationRun(const QStringList& args) {
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg.size() < 2 || (arg.front() != u'-' && arg.front() != u'/')) continue;
        const QStringView name = QStringView(arg).mid(1);
        if (name.compare(QLatin1String("Embedding"), Qt::CaseInsensitive) == 0 ||
            name.compare(QLatin1String("Automation"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString ServiceFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/dbus-1/services/") + kServiceName + QStringLiteral(".service");
}

namespace {

// The bus splits Exec like a shell; a path with blanks or quotes must arrive as one word.
QString QuoteForExec(const QString& path) {
    bool plain = !path.isEmpty();
    for (const QChar c : path) {
        if (!(c.isLetterOrNumber() || QStringView(u"/._+-,:@%").contains(c))) plain = false;
    }
    if (plain) return path;
    QString quoted = path;
    quoted.replace(QLatin1String("'"), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

}  // namespace

bool UpdateRegistryAll(const QString& programPath) {
    const QString program = QFileInfo(programPath).absoluteFilePath();
    // A line break would end the Exec entry early and let the rest pose as further entries.
    if (programPath.isEmpty() || program.contains(QLatin1Char('\n')) ||
        program.contains(QLatin1Char('\r')) || program.contains(QChar(u'\0')))
        return false;

    const QString path = ServiceFilePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;

    const QString text = QStringLiteral(
                             "# Starts Orvane when an automation client asks for its class.\n"
                             "# Class identifier: %1\n"
                             "# Dispatch interface identifier: %2\n"
                             "[D-BUS Service]\n"
                             "Name=%3\n"
                             "Exec=%4 -Automation\n")
                             .arg(kClassId, kInterfaceId, kServiceName, QuoteForExec(program));
    QSaveFile file(path);
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        qCDebug(lcPlatform) << "service file not written:" << path << file.errorString();
        return false;
    }
    return true;
}

AutomationServer::AutomationServer(const QDBusConnection& connection, QObject* parent)
    : QObject(parent), m_connection(connection), m_factory(new OrvaneClassFactory(*this)) {
    m_factory->setParent(this);
}

AutomationServer::~AutomationServer() {
    delete m_proxy.data();
    if (m_bFactoryExported) m_connection.unregisterObject(QString(kFactoryPath));
    ReleaseName();
}

bool AutomationServer::RegisterAll() {
    if (!m_connection.isConnected()) return false;
    // The factory is in place before the name is ours, so a request queued by the bus for
    // this run never meets an empty path.
    if (!m_bFactoryExported) {
        m_bFactoryExported = m_connection.registerObject(QString(kFactoryPath), m_factory,
                                                         QDBusConnection::ExportScriptableSlots);
        if (!m_bFactoryExported) return false;
    }
    m_bOwnsName = m_connection.registerService(QString(kServiceName));
    return m_bOwnsName;
}

QString AutomationServer::CreateInstance(const QString& client, QString* errorName,
                                         QString* errorText) {
    if (m_bServed) {
        // A request sent while the name was still ours; the next run answers it.
        *errorName = QStringLiteral("org.freedesktop.DBus.Error.LimitsExceeded");
        *errorText = QStringLiteral("This run of Orvane has already served its client");
        return {};
    }
    auto* proxy = new COrvaneDlgAutoProxy(m_connection, client, m_pMainWindow, this);
    if (!proxy->Export()) {
        delete proxy;
        *errorName = QStringLiteral("org.freedesktop.DBus.Error.Failed");
        *errorText = QStringLiteral("The object could not be created");
        return {};
    }
    m_proxy = proxy;
    m_bServed = true;
    // Let the reply go out first; then the bus starts a new run for the next request.
    QMetaObject::invokeMethod(this, &AutomationServer::ReleaseName, Qt::QueuedConnection);
    return QString(kProxyPath);
}

void AutomationServer::ReleaseName() {
    if (!m_bOwnsName) return;
    m_bOwnsName = false;
    m_connection.unregisterService(QString(kServiceName));
}

}  // namespace orvane

// Compiled here rather than in the shared moc unit, which other seams of the library share.
#include "moc_AutomationServer.cpp"
