// Per-address penalties, the cap on logins in progress, and quiet refusals.
#include "telnet/AccessGuard.h"

#include <algorithm>

#include "platform/Clock.h"
#include "telnet/ClientTexts.h"

namespace orvane {

LoginTicket::LoginTicket(LoginTicket&& other) noexcept
    : m_guard(std::exchange(other.m_guard, nullptr)), m_key(std::move(other.m_key)) {}

LoginTicket& LoginTicket::operator=(LoginTicket&& other) noexcept {
    if (this != &other) {
        Release();
        m_guard = std::exchange(other.m_guard, nullptr);
        m_key = std::move(other.m_key);
    }
    return *this;
}

void LoginTicket::Release() {
    if (AccessGuard* guard = std::exchange(m_guard, nullptr)) guard->LoginEnded(m_key);
}

AccessGuard::AccessGuard(const Clock& clock) : m_clock(clock) {}

AccessGuard::Verdict AccessGuard::Admit(const PeerAddress& peer, bool slotFree, bool penaltiesOn) {
    const QByteArray key = peer.LimitKey();
    // The machine's own user is already on the machine: no penalty and no cap for it.
    const bool limited = !peer.IsLocalHost();
    if (limited && penaltiesOn) {
        auto it = m_penalties.find(key);
        if (it != m_penalties.end() && it->until > m_clock.NowMs()) {
            const bool log = !it->logged;
            it->logged = true;
            return {Refusal::LoginPenalty, log};
        }
    }
    if (!slotFree) return {Refusal::ServerFull, ShouldLogRefusal(key, Refusal::ServerFull)};
    if (limited && LoginsInProgress(peer) >= kMaxLoginsInProgress) {
        return {Refusal::TooManyLogins, ShouldLogRefusal(key, Refusal::TooManyLogins)};
    }
    return {};
}

const char* AccessGuard::RefusalText(Refusal refusal) {
    switch (refusal) {
        case Refusal::ServerFull:
            return text::kRefusedServerFull;
        case Refusal::LoginPenalty:
            return text::kRefusedLoginPenalty;
        case Refusal::TooManyLogins:
            return text::kRefusedTooManyLogins;
        case Refusal::None:
            break;
    }
    return "";
}

bool AccessGuard::ShouldLogRefusal(const QByteArray& key, Refusal refusal) {
    const std::int64_t now = m_clock.NowMs();
    if (!m_refusalsLogged.contains(key) && m_refusalsLogged.size() >= kMaxRemembered) {
        // Forget whatever is older than the interval; with a flood of fresh addresses,
        // forget the oldest so the table never grows past its bound.
        m_refusalsLogged.removeIf([now](const auto& entry) {
            const RefusalsLogged& at = entry.value();
            return std::max(at.serverFull, at.tooManyLogins) <= now - kRefusalLogIntervalMs;
        });
        if (m_refusalsLogged.size() >= kMaxRemembered) {
            auto oldest = std::min_element(m_refusalsLogged.begin(), m_refusalsLogged.end(),
                                           [](const auto& a, const auto& b) {
                                               return std::max(a.serverFull, a.tooManyLogins) <
                                                      std::max(b.serverFull, b.tooManyLogins);
                                           });
            m_refusalsLogged.erase(oldest);
        }
    }
    RefusalsLogged& at = m_refusalsLogged[key];
    std::int64_t& last = refusal == Refusal::ServerFull ? at.serverFull : at.tooManyLogins;
    if (last != INT64_MIN && now - last < kRefusalLogIntervalMs) return false;
    last = now;
    return true;
}

void AccessGuard::Penalise(const PeerAddress& peer, bool penaltiesOn) {
    if (!penaltiesOn || peer.IsLocalHost() || peer.IsEmpty()) return;
    const std::int64_t now = m_clock.NowMs();
    const QByteArray key = peer.LimitKey();
    auto it = m_penalties.find(key);
    if (it != m_penalties.end() && it->until > now) {
        it->length = std::min(it->length * 2, kLongestPenaltyMs);
        it->since = now;
        it->until = now + it->length;
        // A longer penalty is a new one: worth one entry of its own.
        it->logged = false;
        return;
    }
    if (it == m_penalties.end() && m_penalties.size() >= kMaxRemembered) {
        DropExpiredPenalties();
        if (m_penalties.size() >= kMaxRemembered) {
            auto oldest = std::min_element(
                m_penalties.begin(), m_penalties.end(),
                [](const Penalty& a, const Penalty& b) { return a.since < b.since; });
            m_penalties.erase(oldest);
        }
    }
    m_penalties.insert(key, Penalty{now, now + kFirstPenaltyMs, kFirstPenaltyMs, false});
}

void AccessGuard::DropExpiredPenalties() {
    const std::int64_t now = m_clock.NowMs();
    m_penalties.removeIf([now](const auto& entry) { return entry.value().until <= now; });
}

std::int64_t AccessGuard::PenaltyLeftMs(const PeerAddress& peer) const {
    auto it = m_penalties.constFind(peer.LimitKey());
    if (it == m_penalties.constEnd()) return 0;
    return std::max<std::int64_t>(it->until - m_clock.NowMs(), 0);
}

LoginTicket AccessGuard::StartLogin(const PeerAddress& peer) {
    const QByteArray key = peer.LimitKey();
    ++m_loginsInProgress[key];
    return LoginTicket(this, key);
}

int AccessGuard::LoginsInProgress(const PeerAddress& peer) const {
    return m_loginsInProgress.value(peer.LimitKey(), 0);
}

void AccessGuard::LoginEnded(const QByteArray& key) {
    auto it = m_loginsInProgress.find(key);
    if (it == m_loginsInProgress.end()) return;
    if (--it.value() <= 0) m_loginsInProgress.erase(it);
}

}  // namespace orvane
