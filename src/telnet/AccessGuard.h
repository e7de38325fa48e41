// Who may connect: per-address login penalties, the cap on logins in progress from one
// address, and how often a refusal is worth an activity entry. Pure logic on a clock.
#pragma once

#include <QByteArray>
#include <QHash>
#include <cstdint>

#include "platform/PeerAddress.h"

namespace orvane {

class Clock;
class AccessGuard;

// Counts one login in progress for its address until it is released (logged in, or the
// session gone). The guard must outlive its tickets.
class LoginTicket final {
public:
    LoginTicket() = default;
    ~LoginTicket() { Release(); }
    LoginTicket(LoginTicket&& other) noexcept;
    LoginTicket& operator=(LoginTicket&& other) noexcept;
    LoginTicket(const LoginTicket&) = delete;
    LoginTicket& operator=(const LoginTicket&) = delete;

    void Release();
    bool IsHeld() const { return m_guard != nullptr; }

private:
    friend class AccessGuard;
    LoginTicket(AccessGuard* guard, QByteArray key) : m_guard(guard), m_key(std::move(key)) {}

    AccessGuard* m_guard = nullptr;
    QByteArray m_key;
};

class AccessGuard final {
public:
    static constexpr std::int64_t kFirstPenaltyMs = 15'000;
    static constexpr std::int64_t kLongestPenaltyMs = 10 * 60'000;
    static constexpr std::int64_t kRefusalLogIntervalMs = 60'000;
    static constexpr int kMaxRemembered = 4096;
    static constexpr int kMaxLoginsInProgress = 3;

    enum class Refusal { None, ServerFull, LoginPenalty, TooManyLogins };
    struct Verdict {
        Refusal refusal = Refusal::None;
        // The refusal deserves an activity entry now (RefusalText); later ones are quiet.
        bool log = false;
    };

    explicit AccessGuard(const Clock& clock);
    AccessGuard(const AccessGuard&) = delete;
    AccessGuard& operator=(const AccessGuard&) = delete;

    // A connection from `peer` has just been accepted. `slotFree`: one of the ten session
    // slots is free; `penaltiesOn`: penalties are switched on now.
    Verdict Admit(const PeerAddress& peer, bool slotFree, bool penaltiesOn);
    // The activity text of a refusal ("Refused: server full", ...).
    static const char* RefusalText(Refusal refusal);

    // A session from `peer` was locked after failed logins, or its login timed out: a
    // penalty of 15 s starts, or the one still running doubles (at most 10 minutes).
    void Penalise(const PeerAddress& peer, bool penaltiesOn);
    // Milliseconds of penalty left for this address; 0 when none.
    std::int64_t PenaltyLeftMs(const PeerAddress& peer) const;
    int RememberedPenalties() const { return static_cast<int>(m_penalties.size()); }

    // Counts a login in progress from `peer` for the life of the ticket.
    LoginTicket StartLogin(const PeerAddress& peer);
    int LoginsInProgress(const PeerAddress& peer) const;

private:
    friend class LoginTicket;
    struct Penalty {
        std::int64_t since = 0;   // the latest offence
        std::int64_t until = 0;   // when it ends
        std::int64_t length = 0;  // its current length
        bool logged = false;
    };
    struct RefusalsLogged {
        std::int64_t serverFull = INT64_MIN;
        std::int64_t tooManyLogins = INT64_MIN;
    };

    bool ShouldLogRefusal(const QByteArray& key, Refusal refusal);
    void DropExpiredPenalties();
    void LoginEnded(const QByteArray& key);

    const Clock& m_clock;
    QHash<QByteArray, Penalty> m_penalties;
    QHash<QByteArray, RefusalsLogged> m_refusalsLogged;
    QHash<QByteArray, int> m_loginsInProgress;
};

}  // namespace orvane
