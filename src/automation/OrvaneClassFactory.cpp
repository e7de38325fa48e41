// The class factory object on the bus.
#include "automation/OrvaneClassFactory.h"

#include <QDBusMessage>

#include "automation/AutomationServer.h"

namespace orvane {

OrvaneClassFactory::OrvaneClassFactory(AutomationServer& server) : m_server(server) {}

QDBusObjectPath OrvaneClassFactory::CreateInstance() {
    if (!calledFromDBus()) return {};
    QString errorName;
    QString errorText;
    const QString path = m_server.CreateInstance(message().service(), &errorName, &errorText);
    if (path.isEmpty()) {
        sendErrorReply(errorName, errorText);
        return {};
    }
    return QDBusObjectPath(path);
}

}  // namespace orvane

// Compiled here rather than in the shared moc unit, which other seams of the library share.
#include "moc_OrvaneClassFactory.cpp"
