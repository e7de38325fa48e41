// The Telnet service: the listener and the registry of ten sessions, owned by the main
// window (or the console runner) and testable without either.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "platform/HostNameLookup.h"
#include "telnet/AccessGuard.h"

namespace orvane {

class ActivityLog;
class FileLocations;
class SoundPlayer;
class PowerControl;
class SettingsStore;
class AsyncListener;
class BridgeEndpoint;
class CSessionSocket;
class DosBridge;
class Clock;
class TlsServerContext;
struct UserTable;

// The platform services a running server uses.
struct ServerServices {
    SoundPlayer& sound;
    PowerControl& power;
    // Timeouts, delays and penalties run on it; the system clock when none is given.
    Clock* clock = nullptr;
};

class TelnetService final : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxSessions = 10;
    // Makes the `dos` bridge of one session; the session owns what it returns.
    using BridgeFactory = std::function<std::unique_ptr<DosBridge>(BridgeEndpoint&)>;

    // The settings are read afresh for every decision; the user table is the live one,
    // which logins read as it is at that moment; the locations give the sound defaults.
    TelnetService(SettingsStore& settings, const FileLocations& locations, const UserTable& users,
                  ActivityLog& log, ServerServices services, QObject* parent = nullptr);
    ~TelnetService() override;

    // Reads "PortNr" and "ListenAddress" and listens; with "TlsEnable" also on "TlsPortNr"
    // (same address) for encrypted sessions, and with "TlsOnly" on that port alone.
    // 1 listening, 0 failed (also when already listening); StartFailure() then says why.
    int StartServer();
    QString StartFailure() const { return m_startFailure; }
    // The encrypted port's certificate fingerprint ("AB:CD:...") while it listens.
    QString TlsFingerprint() const;
    // Closes the listener and retires every session ("Connection terminated" with the
    // dotted address). 1 stopped, 0 when there was no listener.
    int StopServer();
    bool IsListening() const;
    int ConnectionCount() const;
    // The port actually bound (useful when "PortNr" is 0 in tests); 0 when stopped.
    int BoundPort() const;
    // Where the listener listens, as "0.0.0.0:2323"; empty when stopped.
    QString ListeningAddress() const;
    // The encrypted port actually bound; 0 when it does not listen.
    int TlsBoundPort() const;

    // Without a factory, `dos` answers that the interpreter could not be started.
    void SetBridgeFactory(BridgeFactory factory) { m_bridgeFactory = std::move(factory); }
    // The most unsent output one session may hold (1 MiB unless lowered, e.g. in tests).
    void SetOutputLimit(long bytes) { m_nOutputLimit = bytes; }
    // Sessions whose client is not taking its output: their input waits until it drains.
    int BlockedSessionCount() const;
    // Sessions retired but not destroyed yet (that happens on the event loop's next turn).
    int PendingDestructionCount() const { return static_cast<int>(m_retired.size()); }
    // The reverse lookup's resolver (tests plug in one that hangs).
    void SetResolver(HostNameLookup::Resolver resolver) {
        m_lookup.SetResolver(std::move(resolver));
    }

    // What the sessions use of the service.
    void AcceptConnection();
    void AcceptEncryptedConnection();
    // An encrypted session's handshake failed: the entry for the operator. It ends like a
    // closed connection next.
    void HandshakeFailed(CSessionSocket& session, const QString& reason);
    QByteArray ResolvePeerName(const char* dotted);
    void ConnectionClosed(const char* who);
    int CheckLogin(const char* who, const char* user, const char* password, int* canDos,
                   int* canShutdown, QByteArray* greeting);
    void LogActivity(const char* who, const char* what);
    // A session's close notification: "Connection terminated" and the slot freed.
    void SessionClosed(CSessionSocket& session);
    // The session was locked after failed logins, or its login timed out: its address
    // goes into a penalty when "PenaltyEnable" is on.
    void Penalise(const CSessionSocket& session);
    Clock& SessionClock() { return *m_clock; }

    SettingsStore& Settings() { return m_settings; }
    PowerControl& Power() { return m_services.power; }
    const BridgeFactory& Bridges() const { return m_bridgeFactory; }

signals:
    // After every change of the count: the window updates its text and the tray.
    void connectionCountChanged(int count);

private:
    void GreetSession(CSessionSocket& session, const QByteArray& name);
    void Accept(AsyncListener& listener, bool encrypted);
    std::unique_ptr<TlsServerContext> LoadTlsContext();
    void RetireSlot(int slot);
    void ScheduleDestruction();
    void DestroyRetiredSessions();

    SettingsStore& m_settings;
    const FileLocations& m_locations;
    const UserTable& m_users;
    ActivityLog& m_log;
    ServerServices m_services;
    BridgeFactory m_bridgeFactory;
    Clock* m_clock;
    // Both outlive the sessions, which hold their login tickets and pending lookups.
    AccessGuard m_guard;
    HostNameLookup m_lookup;
    QString m_startFailure;
    std::unique_ptr<AsyncListener> m_pListenSocket;
    std::unique_ptr<AsyncListener> m_pTlsListenSocket;
    std::unique_ptr<TlsServerContext> m_tlsContext;
    std::array<std::unique_ptr<CSessionSocket>, kMaxSessions> m_pSessions;
    // Retired sessions not destroyed yet: the retiring call may come from one of their own
    // handlers, so they go from the event loop.
    std::vector<std::unique_ptr<CSessionSocket>> m_retired;
    int m_nConnections = 0;
    long m_nOutputLimit;
    bool m_bDestructionQueued = false;
};

}  // namespace orvane
