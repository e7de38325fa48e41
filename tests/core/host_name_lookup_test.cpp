// The reverse lookup off the event loop: a hanging resolver holds only its own lookup.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "FakeClock.h"
#include "LoopbackClient.h"
#include "platform/HostNameLookup.h"

using namespace orvane;

namespace {
// A resolver that answers "<numeric>.example" at once, except for one address, whose
// lookup hangs until the gate opens. Its state outlives the test for the threads' sake.
class GatedResolver final {
public:
    explicit GatedResolver(QByteArray hanging) : m_state(std::make_shared<State>()) {
        m_state->hanging = std::move(hanging);
    }
    ~GatedResolver() { Open(); }

    HostNameLookup::Resolver Function() {
        return [state = m_state](const PeerAddress& peer) -> QByteArray {
            if (peer.Text() != state->hanging) return peer.Text() + ".example";
            std::unique_lock lock(state->mutex);
            state->cv.wait(lock, [&] { return state->open; });
            ++state->returned;
            return QByteArray("late.example");
        };
    }
    void Open() {
        {
            std::lock_guard lock(m_state->mutex);
            m_state->open = true;
        }
        m_state->cv.notify_all();
    }
    bool HangingReturned() const { return m_state->returned.load() > 0; }

private:
    struct State {
        QByteArray hanging;
        std::mutex mutex;
        std::condition_variable cv;
        bool open = false;
        std::atomic<int> returned{0};
    };
    std::shared_ptr<State> m_state;
};
}  // namespace

TEST(HostNameLookup, AHangingLookupDelaysOnlyItsOwnClientWhichGetsItsNumericAddress) {
    test::FakeClock clock;
    GatedResolver resolver("192.0.2.1");
    HostNameLookup lookup(clock);
    lookup.SetResolver(resolver.Function());

    QByteArray slow, fast, v6;
    auto slowPending = lookup.Start(PeerAddress::FromText("192.0.2.1"),
                                    [&](const QByteArray& name) { slow = name; });
    auto fastPending = lookup.Start(PeerAddress::FromText("192.0.2.2"),
                                    [&](const QByteArray& name) { fast = name; });
    auto v6Pending = lookup.Start(PeerAddress::FromText("2001:db8::5"),
                                  [&](const QByteArray& name) { v6 = name; });
    EXPECT_TRUE(slow.isEmpty() && fast.isEmpty()) << "never answered from inside Start";
    ASSERT_TRUE(test::PumpUntil([&] { return !fast.isEmpty() && !v6.isEmpty(); }, 10000));
    EXPECT_EQ(fast, QByteArray("192.0.2.2.example"));
    EXPECT_EQ(v6, QByteArray("2001:db8::5.example"));
    EXPECT_TRUE(slow.isEmpty());

    clock.Advance(HostNameLookup::kTimeoutMs);
    EXPECT_EQ(slow, QByteArray("192.0.2.1"));
    // The late answer, when it comes, changes nothing.
    resolver.Open();
    ASSERT_TRUE(test::PumpUntil([&] { return lookup.RunningCount() == 0; }, 10000));
    test::PumpFor(20);
    EXPECT_EQ(slow, QByteArray("192.0.2.1"));
}

TEST(HostNameLookup, AClientThatLeavesDuringItsLookupIsForgottenWithoutWaiting) {
    test::FakeClock clock;
    GatedResolver resolver("192.0.2.1");
    bool answered = false;
    {
        HostNameLookup lookup(clock);
        lookup.SetResolver(resolver.Function());
        auto pending = lookup.Start(PeerAddress::FromText("192.0.2.1"),
                                    [&](const QByteArray&) { answered = true; });
        auto dropped = lookup.Start(PeerAddress::FromText("192.0.2.3"),
                                    [&](const QByteArray&) { answered = true; });
        dropped.reset();
        test::PumpFor(50);
        pending.reset();
        clock.Advance(HostNameLookup::kTimeoutMs);
        // Leaving this scope must not wait for the thread that still hangs.
    }
    resolver.Open();
    ASSERT_TRUE(test::PumpUntil([&] { return resolver.HangingReturned(); }, 10000));
    test::PumpFor(50);
    EXPECT_FALSE(answered);
}

TEST(HostNameLookup, NoNameGivesTheNumericAddressAndTheSystemResolverKnowsTheLoopback) {
    test::FakeClock clock;
    HostNameLookup lookup(clock);
    lookup.SetResolver([](const PeerAddress&) { return QByteArray(); });
    QByteArray name;
    auto pending = lookup.Start(PeerAddress::FromText("::ffff:192.0.2.9"),
                                [&](const QByteArray& answer) { name = answer; });
    ASSERT_TRUE(test::PumpUntil([&] { return !name.isEmpty(); }, 10000));
    EXPECT_EQ(name, QByteArray("192.0.2.9"));
    // 127.0.0.1 has a name in every hosts file.
    EXPECT_FALSE(HostNameLookup::SystemResolve(PeerAddress::FromText("127.0.0.1")).isEmpty());
}
