// The automation object: an empty Orvane.Application interface plus the client's hold.
#include "automation/COrvaneDlgAutoProxy.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QVariantMap>

#include "automation/AutomationIds.h"
#include "automation/AutomationOwner.h"

namespace orvane {

using namespace automation;

namespace {

const QLatin1StringView kIntrospectableInterface{"org.freedesktop.DBus.Introspectable"};
const QLatin1StringView kPropertiesInterface{"org.freedesktop.DBus.Properties"};
const QLatin1StringView kUnknownMethod{"org.freedesktop.DBus.Error.UnknownMethod"};
const QLatin1StringView kUnknownProperty{"org.freedesktop.DBus.Error.UnknownProperty"};
const QLatin1StringView kUnknownInterface{"org.freedesktop.DBus.Error.UnknownInterface"};
const QLatin1StringView kInvalidArgs{"org.freedesktop.DBus.Error.InvalidArgs"};
const QLatin1StringView kUnknownObject{"org.freedesktop.DBus.Error.UnknownObject"};
const QLatin1StringView kAccessDenied{"org.freedesktop.DBus.Error.AccessDenied"};

bool IsOwnInterface(const QString& name) {
    return name == kProxyInterface || name == kLifetimeInterface;
}

void SendError(const QDBusConnection& connection, const QDBusMessage& message,
               QLatin1StringView name, const QString& text) {
    if (message.isReplyRequired()) connection.send(message.createErrorReply(QString(name), text));
}

// The bus routes introspection of this node to us, so the standard interfaces are listed here.
QString IntrospectionDocument(const QString& ownInterfaces) {
    return QStringLiteral(
               "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
               "\"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n"
               "<node>\n"
               "  <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
               "    <method name=\"Introspect\">\n"
               "      <arg name=\"xml_data\" type=\"s\" direction=\"out\"/>\n"
               "    </method>\n"
               "  </interface>\n"
               "  <interface name=\"org.freedesktop.DBus.Peer\">\n"
               "    <method name=\"Ping\"/>\n"
               "    <method name=\"GetMachineId\">\n"
               "      <arg name=\"machine_uuid\" type=\"s\" direction=\"out\"/>\n"
               "    </method>\n"
               "  </interface>\n") +
           ownInterfaces + QStringLiteral("</node>\n");
}

}  // namespace

COrvaneDlgAutoProxy::COrvaneDlgAutoProxy(const QDBusConnection& connection, const QString& client,
                                         AutomationOwner* owner, QObject* parent)
    : QDBusVirtualObject(parent), m_connection(connection), m_client(client), m_pOwner(owner) {
    if (m_pOwner) m_pOwner->SetProxy(this);
}

COrvaneDlgAutoProxy::~COrvaneDlgAutoProxy() {
    if (m_bExported) m_connection.unregisterObject(QString(kProxyPath));
    if (m_pOwner) m_pOwner->SetProxy(nullptr);
}

bool COrvaneDlgAutoProxy::Export() {
    m_bExported =
        m_connection.registerVirtualObject(QString(kProxyPath), this, QDBusConnection::SingleNode);
    if (!m_bExported) return false;

    m_clientWatcher = new QDBusServiceWatcher(m_client, m_connection,
                                              QDBusServiceWatcher::WatchForUnregistration, this);
    connect(m_clientWatcher, &QDBusServiceWatcher::serviceUnregistered, this,
            &COrvaneDlgAutoProxy::OnFinalRelease);
    // A client that left before the watch began would otherwise hold the program forever.
    QDBusConnectionInterface* bus = m_connection.interface();
    if (bus && !bus->isServiceRegistered(m_client).value())
        QMetaObject::invokeMethod(this, &COrvaneDlgAutoProxy::OnFinalRelease, Qt::QueuedConnection);
    return true;
}

QString COrvaneDlgAutoProxy::introspect(const QString&) const {
    // The application interface is empty on purpose: it only proves the object exists.
    return QStringLiteral(
        "  <interface name=\"Orvane.Application\">\n"
        "  </interface>\n"
        "  <interface name=\"Orvane.Lifetime\">\n"
        "    <method name=\"Release\"/>\n"
        "  </interface>\n"
        "  <interface name=\"org.freedesktop.DBus.Properties\">\n"
        "    <method name=\"Get\">\n"
        "      <arg name=\"interface_name\" type=\"s\" direction=\"in\"/>\n"
        "      <arg name=\"property_name\" type=\"s\" direction=\"in\"/>\n"
        "      <arg name=\"value\" type=\"v\" direction=\"out\"/>\n"
        "    </method>\n"
        "    <method name=\"Set\">\n"
        "      <arg name=\"interface_name\" type=\"s\" direction=\"in\"/>\n"
        "      <arg name=\"property_name\" type=\"s\" direction=\"in\"/>\n"
        "      <arg name=\"value\" type=\"v\" direction=\"in\"/>\n"
        "    </method>\n"
        "    <method name=\"GetAll\">\n"
        "      <arg name=\"interface_name\" type=\"s\" direction=\"in\"/>\n"
        "      <arg name=\"values\" type=\"a{sv}\" direction=\"out\"/>\n"
        "    </method>\n"
        "  </interface>\n");
}

bool COrvaneDlgAutoProxy::handleMessage(const QDBusMessage& message,
                                        const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage) return false;
    if (m_bReleased) {
        SendError(connection, message, kUnknownObject,
                  QStringLiteral("No such object path '%1'").arg(message.path()));
        return true;
    }

    if (message.member() == QLatin1String("Introspect") && message.signature().isEmpty() &&
        (message.interface().isEmpty() || message.interface() == kIntrospectableInterface)) {
        if (message.isReplyRequired())
            connection.send(message.createReply(IntrospectionDocument(introspect(message.path()))));
        return true;
    }
    if (message.interface() == kPropertiesInterface) {
        HandleProperties(message, connection);
        return true;
    }
    if (message.interface() == kLifetimeInterface && message.member() == QLatin1String("Release") &&
        message.signature().isEmpty()) {
        if (message.service() != m_client) {
            SendError(connection, message, kAccessDenied,
                      QStringLiteral("Only the client that created the object can release it"));
            return true;
        }
        if (message.isReplyRequired()) connection.send(message.createReply());
        OnFinalRelease();
        return true;
    }
    SendError(connection, message, kUnknownMethod,
              QStringLiteral("No such method '%1' in interface '%2' at object path '%3' "
                             "(signature '%4')")
                  .arg(message.member(), message.interface(), message.path(), message.signature()));
    return true;
}

void COrvaneDlgAutoProxy::HandleProperties(const QDBusMessage& message,
                                           const QDBusConnection& connection) {
    const QVariantList args = message.arguments();
    const QString member = message.member();
    const QString interfaceName = args.isEmpty() ? QString() : args.at(0).toString();

    if (member == QLatin1String("GetAll") && message.signature() == QLatin1String("s")) {
        if (!IsOwnInterface(interfaceName)) {
            SendError(connection, message, kUnknownInterface,
                      QStringLiteral("No such interface '%1'").arg(interfaceName));
            return;
        }
        if (message.isReplyRequired())
            connection.send(message.createReply(QVariant::fromValue(QVariantMap())));
        return;
    }
    if ((member == QLatin1String("Get") && message.signature() == QLatin1String("ss")) ||
        (member == QLatin1String("Set") && message.signature() == QLatin1String("ssv"))) {
        SendError(connection, message, kUnknownProperty,
                  QStringLiteral("No such property '%1' in interface '%2'")
                      .arg(args.at(1).toString(), interfaceName));
        return;
    }
    if (member == QLatin1String("Get") || member == QLatin1String("Set") ||
        member == QLatin1String("GetAll")) {
        SendError(connection, message, kInvalidArgs,
                  QStringLiteral("Wrong arguments (signature '%1')").arg(message.signature()));
        return;
    }
    SendError(
        connection, message, kUnknownMethod,
        QStringLiteral("No such method '%1' in interface '%2'").arg(member, message.interface()));
}

void COrvaneDlgAutoProxy::OnFinalRelease() {
    if (m_bReleased) return;
    m_bReleased = true;
    // Detach at once so that the very next close of the window ends the program; the object
    // leaves the bus from the event loop, as the bus may still be delivering to it right now.
    if (m_clientWatcher) m_clientWatcher->setWatchedServices({});
    if (m_pOwner) {
        AutomationOwner* owner = m_pOwner;
        m_pOwner = nullptr;
        owner->SetProxy(nullptr);
    }
    emit Released();
    deleteLater();
}

}  // namespace orvane

// Compiled here rather than in the shared moc unit, which other seams of the library share.
#include "moc_COrvaneDlgAutoProxy.cpp"
