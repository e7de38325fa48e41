// Per-address penalties, the cap on logins in progress and quiet refusals, on a fake clock.
#include <gtest/gtest.h>

#include "FakeClock.h"
#include "telnet/AccessGuard.h"

using namespace orvane;
using Refusal = AccessGuard::Refusal;

namespace {
PeerAddress At(const char* text) {
    return PeerAddress::FromText(QByteArray(text));
}
}  // namespace

TEST(AccessGuard, PenaltiesStartDoubleWhileTheyLastAreCappedAndExpire) {
    test::FakeClock clock;
    AccessGuard guard(clock);
    const PeerAddress guesser = At("192.0.2.7");

    EXPECT_EQ(guard.Admit(guesser, true, true).refusal, Refusal::None);
    guard.Penalise(guesser, true);
    EXPECT_EQ(guard.PenaltyLeftMs(guesser), 15'000);
    // The entry comes once per penalty, not once per refused connection.
    const AccessGuard::Verdict first = guard.Admit(guesser, true, true);
    EXPECT_EQ(first.refusal, Refusal::LoginPenalty);
    EXPECT_TRUE(first.log);
    const AccessGuard::Verdict again = guard.Admit(At("192.0.2.7"), true, true);
    EXPECT_EQ(again.refusal, Refusal::LoginPenalty);
    EXPECT_FALSE(again.log);
    clock.Advance(1000);
    EXPECT_FALSE(guard.Admit(guesser, true, true).log);

    // Another lock while it lasts doubles it, and the longer penalty is logged again.
    guard.Penalise(guesser, true);
    EXPECT_EQ(guard.PenaltyLeftMs(guesser), 30'000);
    EXPECT_TRUE(guard.Admit(guesser, true, true).log);
    for (int i = 0; i < 10; ++i) guard.Penalise(guesser, true);
    EXPECT_EQ(guard.PenaltyLeftMs(guesser), 600'000);

    // Another address is served meanwhile.
    EXPECT_EQ(guard.Admit(At("192.0.2.8"), true, true).refusal, Refusal::None);

    clock.Advance(600'000);
    EXPECT_EQ(guard.Admit(guesser, true, true).refusal, Refusal::None);
    // Once over, the next lock starts again at 15 s.
    guard.Penalise(guesser, true);
    EXPECT_EQ(guard.PenaltyLeftMs(guesser), 15'000);
}

TEST(AccessGuard, PenaltiesCanBeSwitchedOffAndNeverTouchTheMachineItself) {
    test::FakeClock clock;
    AccessGuard guard(clock);
    const PeerAddress guesser = At("192.0.2.7");
    guard.Penalise(guesser, false);
    EXPECT_EQ(guard.PenaltyLeftMs(guesser), 0);
    guard.Penalise(guesser, true);
    // Switched off later: a running penalty no longer refuses.
    EXPECT_EQ(guard.Admit(guesser, true, false).refusal, Refusal::None);

    for (const char* local : {"127.0.0.1", "::1", "::ffff:127.0.0.1"}) {
        guard.Penalise(At(local), true);
        EXPECT_EQ(guard.Admit(At(local), true, true).refusal, Refusal::None) << local;
    }
    // Other loopback sources are ordinary addresses (tests rely on that).
    guard.Penalise(At("127.0.0.2"), true);
    EXPECT_EQ(guard.Admit(At("127.0.0.2"), true, true).refusal, Refusal::LoginPenalty);
}

TEST(AccessGuard, IPv6AddressesCountByTheirSlash64) {
    test::FakeClock clock;
    AccessGuard guard(clock);
    guard.Penalise(At("2001:db8:1:2::10"), true);
    EXPECT_EQ(guard.Admit(At("2001:db8:1:2:ffff::99"), true, true).refusal, Refusal::LoginPenalty);
    EXPECT_EQ(guard.Admit(At("2001:db8:1:3::10"), true, true).refusal, Refusal::None);

    LoginTicket a = guard.StartLogin(At("2001:db8:1:2::1"));
    LoginTicket b = guard.StartLogin(At("2001:db8:1:2::2"));
    EXPECT_EQ(guard.LoginsInProgress(At("2001:db8:1:2::3")), 2);
}

TEST(AccessGuard, AFourthLoginInProgressFromOneAddressIsRefusedUntilOneEnds) {
    test::FakeClock clock;
    AccessGuard guard(clock);
    const PeerAddress busy = At("198.51.100.4");
    std::vector<LoginTicket> tickets;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(guard.Admit(busy, true, true).refusal, Refusal::None);
        tickets.push_back(guard.StartLogin(busy));
    }
    const AccessGuard::Verdict fourth = guard.Admit(busy, true, true);
    EXPECT_EQ(fourth.refusal, Refusal::TooManyLogins);
    EXPECT_TRUE(fourth.log);
    EXPECT_FALSE(guard.Admit(busy, true, true).log);
    EXPECT_EQ(guard.Admit(At("198.51.100.5"), true, true).refusal, Refusal::None);

    // A session that logs in (or ends) no longer counts; a moved ticket counts once.
    LoginTicket moved = std::move(tickets[0]);
    tickets[0].Release();
    EXPECT_EQ(guard.LoginsInProgress(busy), 3);
    moved.Release();
    EXPECT_EQ(guard.Admit(busy, true, true).refusal, Refusal::None);
    tickets.clear();
    EXPECT_EQ(guard.LoginsInProgress(busy), 0);

    // The machine's own user may have ten logins at once.
    std::vector<LoginTicket> local;
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(guard.Admit(At("127.0.0.1"), true, true).refusal, Refusal::None);
        local.push_back(guard.StartLogin(At("127.0.0.1")));
    }
}

TEST(AccessGuard, RefusalsAreLoggedAtMostOnceAMinutePerAddress) {
    test::FakeClock clock;
    AccessGuard guard(clock);
    const PeerAddress one = At("203.0.113.1");
    EXPECT_EQ(guard.Admit(one, false, true).refusal, Refusal::ServerFull);
    EXPECT_STREQ(AccessGuard::RefusalText(Refusal::ServerFull), "Refused: server full");
    EXPECT_STREQ(AccessGuard::RefusalText(Refusal::LoginPenalty), "Refused: login penalty");
    clock.Advance(1);
    EXPECT_FALSE(guard.Admit(one, false, true).log);
    EXPECT_TRUE(guard.Admit(At("203.0.113.2"), false, true).log);
    clock.Advance(59'000);
    EXPECT_FALSE(guard.Admit(one, false, true).log);
    clock.Advance(1'000);
    EXPECT_TRUE(guard.Admit(one, false, true).log);
}

TEST(AccessGuard, AtMost4096AddressesAreRememberedAndTheOldestPenaltyGoesFirst) {
    test::FakeClock clock;
    AccessGuard guard(clock);
    const auto address = [](int i) {
        return At(QByteArray("10.%1.%2.1")
                      .replace("%1", QByteArray::number(i / 256))
                      .replace("%2", QByteArray::number(i % 256))
                      .constData());
    };
    for (int i = 0; i < AccessGuard::kMaxRemembered + 10; ++i) {
        guard.Penalise(address(i), true);
        clock.Advance(1);
    }
    EXPECT_EQ(guard.RememberedPenalties(), AccessGuard::kMaxRemembered);
    EXPECT_EQ(guard.PenaltyLeftMs(address(0)), 0);
    EXPECT_EQ(guard.PenaltyLeftMs(address(9)), 0);
    EXPECT_GT(guard.PenaltyLeftMs(address(10)), 0);
    EXPECT_GT(guard.PenaltyLeftMs(address(AccessGuard::kMaxRemembered + 9)), 0);

    // Flooding refusals from fresh addresses never grows the table past its bound either.
    for (int i = 0; i < AccessGuard::kMaxRemembered + 10; ++i) {
        EXPECT_TRUE(guard.Admit(address(20000 + i), false, true).log);
    }
}
