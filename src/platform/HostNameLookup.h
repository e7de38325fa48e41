// The reverse lookup of a client's address, run on a worker thread so that a slow resolver
// holds only the session that waits for it, never the event loop.
#pragma once

#include <QByteArray>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>

#include "platform/PeerAddress.h"

namespace orvane {

class Clock;
class TimerHandle;

class HostNameLookup final : public QObject {
    Q_OBJECT
public:
    // Blocking; runs on a worker thread. The host name, or empty when the address has none.
    using Resolver = std::function<QByteArray(const PeerAddress&)>;
    using Done = std::function<void(const QByteArray& name)>;
    static constexpr std::int64_t kTimeoutMs = 2000;
    // Lookups whose threads may run at once; past that a client gets its numeric address
    // at once (a resolver that never answers would otherwise collect threads).
    static constexpr int kMaxRunning = 32;

    // One lookup under way; destroying it cancels it: its Done is never called.
    class Pending final {
    public:
        ~Pending();
        Pending(const Pending&) = delete;
        Pending& operator=(const Pending&) = delete;

    private:
        friend class HostNameLookup;
        Pending(HostNameLookup& owner, quint64 id) : m_owner(owner), m_id(id) {}
        HostNameLookup& m_owner;
        quint64 m_id;
    };

    explicit HostNameLookup(Clock& clock, QObject* parent = nullptr);
    ~HostNameLookup() override;

    // Looks up the name of `peer`. `done` runs once, later, on this object's thread: with the
    // host name, or with the numeric address when there is none or no answer within 2 s.
    // The Pending must not outlive this object.
    std::unique_ptr<Pending> Start(const PeerAddress& peer, Done done);

    // Replaces the resolver (tests plug in one that hangs or answers late).
    void SetResolver(Resolver resolver) { m_resolver = std::move(resolver); }
    // The clock of the 2 s limit, for lookups started from now on.
    void SetClock(Clock& clock) { m_clock = &clock; }
    // getnameinfo with NI_NAMEREQD, for either family.
    static QByteArray SystemResolve(const PeerAddress& peer);
    // Worker threads still inside the resolver, answered or not.
    int RunningCount() const;

private:
    struct Channel;
    struct Waiting {
        Done done;
        QByteArray numeric;
        std::unique_ptr<TimerHandle> timeout;
    };

    void Finish(quint64 id, const QByteArray& name);
    void Cancel(quint64 id);

    Clock* m_clock;
    Resolver m_resolver;
    std::shared_ptr<Channel> m_channel;
    std::unordered_map<quint64, Waiting> m_waiting;
    quint64 m_nextId = 1;
};

}  // namespace orvane
