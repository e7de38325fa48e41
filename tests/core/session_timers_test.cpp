// A session's deadlines on a fake clock: login timeout, linger, idle timeout, failure delay.
#include <gtest/gtest.h>

#include "FakeClock.h"
#include "telnet/SessionTimers.h"

using namespace orvane;

TEST(SessionTimers, LoginTimeoutFiresOnceUnlessTheLoginEndsFirstAndZeroMeansNever) {
    test::FakeClock clock;
    SessionTimers timers(clock);
    int expired = 0;
    timers.StartLoginTimeout(120'000, [&] { ++expired; });
    clock.Advance(119'999);
    EXPECT_EQ(expired, 0);
    clock.Advance(1);
    EXPECT_EQ(expired, 1);
    clock.Advance(500'000);
    EXPECT_EQ(expired, 1);

    timers.StartLoginTimeout(120'000, [&] { ++expired; });
    clock.Advance(60'000);
    timers.StopLoginTimeout();
    timers.StartLoginTimeout(0, [&] { ++expired; });
    clock.Advance(600'000);
    EXPECT_EQ(expired, 1);
    EXPECT_EQ(clock.PendingCount(), 0);
}

TEST(SessionTimers, IdleTimeoutCountsFromTheLastInputWithOneTimer) {
    test::FakeClock clock;
    SessionTimers timers(clock);
    int expired = 0;
    timers.StartIdleTimeout(60'000, [&] { ++expired; });
    for (int i = 0; i < 100; ++i) {
        clock.Advance(50'000);
        timers.NoteInput();
    }
    EXPECT_EQ(expired, 0);
    EXPECT_EQ(clock.PendingCount(), 1);
    clock.Advance(59'999);
    EXPECT_EQ(expired, 0);
    clock.Advance(1);
    EXPECT_EQ(expired, 1);
    clock.Advance(600'000);
    EXPECT_EQ(expired, 1);
}

TEST(SessionTimers, FailureIsAnsweredASecondLaterAndLingerEndsAfterTenSeconds) {
    test::FakeClock clock;
    SessionTimers timers(clock);
    int answered = 0;
    int lingered = 0;
    timers.DelayFailure([&] { ++answered; });
    EXPECT_TRUE(timers.FailureDelayed());
    clock.Advance(999);
    EXPECT_EQ(answered, 0);
    clock.Advance(1);
    EXPECT_EQ(answered, 1);
    EXPECT_FALSE(timers.FailureDelayed());

    timers.StartLinger([&] { ++lingered; });
    clock.Advance(5'000);
    timers.StartLinger([&] { lingered += 100; });  // a second shut changes nothing
    clock.Advance(5'000);
    EXPECT_EQ(lingered, 1);

    timers.DelayFailure([&] { ++answered; });
    timers.StopAll();
    clock.Advance(10'000);
    EXPECT_EQ(answered, 1);
}
