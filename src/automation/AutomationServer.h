// Start-up's side of automation: the run's switches, the bus's service file and the factory.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include "automation/COrvaneDlgAutoProxy.h"

namespace orvane {

class AutomationOwner;
class OrvaneClassFactory;

// True when the bus started this run as an automation server: one of the arguments after the
// program itself is -Embedding or -Automation, also written with '/', in any letter case.
bool IsAutomationRun(const QStringList& args);

// The file through which the session bus starts the program for a client:
// $XDG_DATA_HOME/dbus-1/services/Orvane.Application.service.
QString ServiceFilePath();

// Rewrites that file for the program at programPath (made absolute). False when the file
// cannot be written or the path cannot be expressed in it (a line break).
bool UpdateRegistryAll(const QString& programPath);

// The class factory on the bus. One object per run; a run serves one creation request, then
// gives up the name so that the bus starts a new run for the next client.
class AutomationServer final : public QObject {
    Q_OBJECT
public:
    explicit AutomationServer(const QDBusConnection& connection = QDBusConnection::sessionBus(),
                              QObject* parent = nullptr);
    ~AutomationServer() override;

    // Exports the factory at "/" and claims Orvane.Application. False without a bus or when
    // the name is taken; the program then runs on without automation.
    bool RegisterAll();

    // The window the next proxy attaches to. Start-up sets it once the main window exists and
    // clears it before destroying the window.
    void SetMainWindow(AutomationOwner* owner) { m_pMainWindow = owner; }

    COrvaneDlgAutoProxy* Proxy() const { return m_proxy.data(); }
    bool HasServed() const { return m_bServed; }

    // Called by the factory for a request from the unique bus name client. Returns the
    // proxy's object path, or an empty string with *errorName and *errorText set.
    QString CreateInstance(const QString& client, QString* errorName, QString* errorText);

private:
    void ReleaseName();

    QDBusConnection m_connection;
    OrvaneClassFactory* m_factory;
    AutomationOwner* m_pMainWindow = nullptr;
    QPointer<COrvaneDlgAutoProxy> m_proxy;
    bool m_bFactoryExported = false;
    bool m_bOwnsName = false;
    bool m_bServed = false;
};

}  // namespace orvane
