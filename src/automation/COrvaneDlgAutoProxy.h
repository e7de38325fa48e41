// The automation object a client gets from the class factory: no methods, no properties;
// while the creating client holds it, the main window hides instead of closing.
#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QString>

class QDBusServiceWatcher;

namespace orvane {

class AutomationOwner;

class COrvaneDlgAutoProxy final : public QDBusVirtualObject {
    Q_OBJECT
public:
    // Attaches to owner (may be null: no main window yet) and holds until the client, a unique
    // bus name, calls Release() or leaves the bus. Export() puts it on the bus.
    COrvaneDlgAutoProxy(const QDBusConnection& connection, const QString& client,
                        AutomationOwner* owner, QObject* parent = nullptr);
    ~COrvaneDlgAutoProxy() override;

    bool Export();

    AutomationOwner* Owner() const { return m_pOwner; }
    // Called by the main window's destructor: the proxy outlives it, detached.
    void ClearOwner() { m_pOwner = nullptr; }
    const QString& Client() const { return m_client; }
    bool IsReleased() const { return m_bReleased; }

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

signals:
    // The client's hold ended; the object is deleted from the event loop afterwards.
    void Released();

private:
    void OnFinalRelease();
    void HandleProperties(const QDBusMessage& message, const QDBusConnection& connection);

    QDBusConnection m_connection;
    QString m_client;
    AutomationOwner* m_pOwner;
    QDBusServiceWatcher* m_clientWatcher = nullptr;
    bool m_bExported = false;
    bool m_bReleased = false;
};

}  // namespace orvane
