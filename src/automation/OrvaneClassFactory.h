// The class factory object at "/" on the bus: CreateInstance() hands out the proxy's path.
#pragma once

#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>

namespace orvane {

class AutomationServer;

class OrvaneClassFactory final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "Orvane.ClassFactory")
public:
    explicit OrvaneClassFactory(AutomationServer& server);

public slots:
    Q_SCRIPTABLE QDBusObjectPath CreateInstance();

private:
    AutomationServer& m_server;
};

}  // namespace orvane
