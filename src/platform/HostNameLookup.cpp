// Reverse lookups on detached worker threads, answered through the event loop.
#include "platform/HostNameLookup.h"

#include <netdb.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/Clock.h"

namespace orvane {

/* Shared by the lookup object and its worker threads. A thread that answers after the
   object is gone finds no owner and drops its answer; the object never waits for a thread,
   so a resolver that hangs cannot hold the program, not even at its end. */
struct HostNameLookup::Channel {
    std::mutex mutex;
    HostNameLookup* owner = nullptr;
    std::atomic<int> running{0};
};

HostNameLookup::Pending::~Pending() {
    m_owner.Cancel(m_id);
}

HostNameLookup::HostNameLookup(Clock& clock, QObject* parent)
    : QObject(parent),
      m_clock(&clock),
      m_resolver(&HostNameLookup::SystemResolve),
      m_channel(std::make_shared<Channel>()) {
    m_channel->owner = this;
}

HostNameLookup::~HostNameLookup() {
    std::lock_guard lock(m_channel->mutex);
    m_channel->owner = nullptr;
}

std::unique_ptr<HostNameLookup::Pending> HostNameLookup::Start(const PeerAddress& peer, Done done) {
    const quint64 id = m_nextId++;
    Waiting& waiting = m_waiting[id];
    waiting.done = std::move(done);
    waiting.numeric = peer.Text();
    std::unique_ptr<Pending> pending(new Pending(*this, id));

    if (m_channel->running.load() >= kMaxRunning) {
        // Answered from the event loop all the same, never from inside Start.
        const QByteArray numeric = waiting.numeric;
        QMetaObject::invokeMethod(
            this, [this, id, numeric] { Finish(id, numeric); }, Qt::QueuedConnection);
        return pending;
    }
    waiting.timeout = m_clock->CallAfter(kTimeoutMs, [this, id] {
        auto it = m_waiting.find(id);
        if (it != m_waiting.end()) Finish(id, it->second.numeric);
    });
    ++m_channel->running;
    std::thread([channel = m_channel, resolver = m_resolver, peer, id] {
        const QByteArray name = resolver(peer);
        std::lock_guard lock(channel->mutex);
        --channel->running;
        if (HostNameLookup* owner = channel->owner) {
            // Posted while the owner is known to exist; Qt drops it if the owner goes first.
            QMetaObject::invokeMethod(
                owner, [owner, id, name] { owner->Finish(id, name); }, Qt::QueuedConnection);
        }
    }).detach();
    return pending;
}

void HostNameLookup::Finish(quint64 id, const QByteArray& name) {
    auto it = m_waiting.find(id);
    if (it == m_waiting.end()) return;  // already answered by the timeout, or cancelled
    Done done = std::move(it->second.done);
    const QByteArray answer = name.isEmpty() ? it->second.numeric : name;
    m_waiting.erase(it);
    done(answer);
}

void HostNameLookup::Cancel(quint64 id) {
    m_waiting.erase(id);
}

int HostNameLookup::RunningCount() const {
    return m_channel->running.load();
}

QByteArray HostNameLookup::SystemResolve(const PeerAddress& peer) {
    sockaddr_storage address{};
    const socklen_t length = peer.ToSockaddr(&address);
    if (length == 0) return {};
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, nullptr, 0,
                      NI_NAMEREQD) != 0) {
        return {};
    }
    return QByteArray(host);
}

}  // namespace orvane
