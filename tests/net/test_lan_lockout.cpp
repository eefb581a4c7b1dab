// The per-address throttling of LAN handshakes, driven by a fake clock.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "net/lan_lockout.h"

namespace sv {
namespace {

struct FakeClock {
    uint64_t now = 1000000;
    LanLockout::Clock Fn() {
        return [this] { return now; };
    }
};

const std::string kPeer = "192.168.1.50";

void FailOnce(LanLockout& table, const std::string& peer = kPeer) {
    ASSERT_EQ(table.TryBegin(peer), LanAdmission::kAdmitted);
    table.Failed(peer);
}

TEST(LanLockout, FiveFailuresLockForThirtySecondsThenOneProbe) {
    FakeClock clock;
    LanLockout table(clock.Fn());
    for (int i = 0; i < 5; ++i) FailOnce(table);
    EXPECT_EQ(table.Failures(kPeer), 5);
    EXPECT_EQ(table.TryBegin(kPeer), LanAdmission::kLockedOut);
    clock.now += 29999;
    EXPECT_EQ(table.TryBegin(kPeer), LanAdmission::kLockedOut);
    clock.now += 1;
    ASSERT_EQ(table.TryBegin(kPeer), LanAdmission::kAdmitted);
    // Only one probe at a time once the lock has run out.
    EXPECT_EQ(table.TryBegin(kPeer), LanAdmission::kLockedOut);
    table.Failed(kPeer);
    EXPECT_EQ(table.LockedUntil(kPeer), clock.now + 60000);
    EXPECT_EQ(table.TryBegin(kPeer), LanAdmission::kLockedOut);
}

TEST(LanLockout, LockDoublesUpTo960Seconds) {
    EXPECT_EQ(LanLockout::LockDurationMs(4), 0u);
    EXPECT_EQ(LanLockout::LockDurationMs(5), 30000u);
    EXPECT_EQ(LanLockout::LockDurationMs(6), 60000u);
    EXPECT_EQ(LanLockout::LockDurationMs(7), 120000u);
    EXPECT_EQ(LanLockout::LockDurationMs(8), 240000u);
    EXPECT_EQ(LanLockout::LockDurationMs(9), 480000u);
    EXPECT_EQ(LanLockout::LockDurationMs(10), 960000u);
    EXPECT_EQ(LanLockout::LockDurationMs(11), 960000u);
    EXPECT_EQ(LanLockout::LockDurationMs(1000), 960000u);

    FakeClock clock;
    LanLockout table(clock.Fn());
    for (int i = 0; i < 5; ++i) FailOnce(table);
    for (int failures = 6; failures <= 12; ++failures) {
        clock.now = table.LockedUntil(kPeer);
        FailOnce(table);
        EXPECT_EQ(table.LockedUntil(kPeer) - clock.now, LanLockout::LockDurationMs(failures)) << failures;
    }
}

TEST(LanLockout, SuccessClearsTheRecord) {
    FakeClock clock;
    LanLockout table(clock.Fn());
    for (int i = 0; i < 4; ++i) FailOnce(table);
    ASSERT_EQ(table.TryBegin(kPeer), LanAdmission::kAdmitted);
    table.Succeeded(kPeer);
    EXPECT_EQ(table.Failures(kPeer), 0);
    EXPECT_EQ(table.Size(), 0u);
    FailOnce(table);
    EXPECT_EQ(table.Failures(kPeer), 1);
}

TEST(LanLockout, ParallelAttemptsCountAgainstTheLimit) {
    FakeClock clock;
    LanLockout table(clock.Fn());
    for (int i = 0; i < 5; ++i) EXPECT_EQ(table.TryBegin(kPeer), LanAdmission::kAdmitted) << i;
    EXPECT_EQ(table.TryBegin(kPeer), LanAdmission::kLockedOut);
    EXPECT_EQ(table.InFlight(kPeer), 5);
    for (int i = 0; i < 5; ++i) table.Failed(kPeer);
    EXPECT_EQ(table.InFlight(kPeer), 0);
    EXPECT_EQ(table.TryBegin(kPeer), LanAdmission::kLockedOut);
    EXPECT_EQ(table.LockedUntil(kPeer), clock.now + 30000);
}

TEST(LanLockout, InFlightAndFailuresTogether) {
    FakeClock clock;
    LanLockout table(clock.Fn());
    for (int i = 0; i < 3; ++i) FailOnce(table);
    EXPECT_EQ(table.TryBegin(kPeer), LanAdmission::kAdmitted);
    EXPECT_EQ(table.TryBegin(kPeer), LanAdmission::kAdmitted);
    EXPECT_EQ(table.TryBegin(kPeer), LanAdmission::kLockedOut);
    table.Abandoned(kPeer);  // cut from our side: frees the slot, counts nothing
    EXPECT_EQ(table.Failures(kPeer), 3);
    EXPECT_EQ(table.TryBegin(kPeer), LanAdmission::kAdmitted);
}

TEST(LanLockout, AddressesAreIndependent) {
    FakeClock clock;
    LanLockout table(clock.Fn());
    for (int i = 0; i < 5; ++i) FailOnce(table);
    EXPECT_EQ(table.TryBegin(kPeer), LanAdmission::kLockedOut);
    EXPECT_EQ(table.TryBegin("10.0.0.2"), LanAdmission::kAdmitted);
}

TEST(LanLockout, OverallHandshakesAreCapped) {
    FakeClock clock;
    LanLockout table(clock.Fn(), 1024, 3);
    EXPECT_EQ(table.TryBegin("10.0.0.1"), LanAdmission::kAdmitted);
    EXPECT_EQ(table.TryBegin("10.0.0.2"), LanAdmission::kAdmitted);
    EXPECT_EQ(table.TryBegin("10.0.0.3"), LanAdmission::kAdmitted);
    EXPECT_EQ(table.TryBegin("10.0.0.4"), LanAdmission::kBusy);
    table.Succeeded("10.0.0.2");
    EXPECT_EQ(table.TotalInFlight(), 2);
    EXPECT_EQ(table.TryBegin("10.0.0.4"), LanAdmission::kAdmitted);
}

// A full table never makes room by forgetting a peer it must remember: the newcomer
// is refused until a record expires (or a peer succeeds and leaves no record).
TEST(LanLockout, FullTableRefusesNewcomersRatherThanForgetAPeer) {
    struct Case {
        const char* name;
        std::function<void(LanLockout&, FakeClock&)> fill;  // two records, a table of two
        bool newcomerAdmitted;
    };
    const Case cases[] = {
        {"one failure each", [](LanLockout& t, FakeClock&) { FailOnce(t, "10.0.0.1"); FailOnce(t, "10.0.0.2"); },
         false},
        {"one locked, one failure a second later",
         [](LanLockout& t, FakeClock& c) {
             for (int i = 0; i < 5; ++i) FailOnce(t, "10.0.0.1");
             c.now += 1000;
             FailOnce(t, "10.0.0.2");
         },
         false},
        {"a lock that ran out still remembers its failures",
         [](LanLockout& t, FakeClock& c) {
             for (int i = 0; i < 5; ++i) FailOnce(t, "10.0.0.1");
             c.now += 31000;
             FailOnce(t, "10.0.0.2");
         },
         false},
        {"one in flight, one failure",
         [](LanLockout& t, FakeClock&) {
             ASSERT_EQ(t.TryBegin("10.0.0.1"), LanAdmission::kAdmitted);
             FailOnce(t, "10.0.0.2");
         },
         false},
        {"failures older than the window",
         [](LanLockout& t, FakeClock& c) {
             FailOnce(t, "10.0.0.1");
             FailOnce(t, "10.0.0.2");
             c.now += LanLockout::kForgetIdleMs;
         },
         true},
        {"a success leaves no record",
         [](LanLockout& t, FakeClock&) {
             FailOnce(t, "10.0.0.1");
             ASSERT_EQ(t.TryBegin("10.0.0.2"), LanAdmission::kAdmitted);
             t.Succeeded("10.0.0.2");
         },
         true},
    };
    for (const Case& c : cases) {
        FakeClock clock;
        LanLockout table(clock.Fn(), 2);
        c.fill(table, clock);
        const int before = table.Failures("10.0.0.1");
        EXPECT_EQ(table.TryBegin("10.0.0.9") == LanAdmission::kAdmitted, c.newcomerAdmitted) << c.name;
        if (!c.newcomerAdmitted) {
            EXPECT_EQ(table.Failures("10.0.0.1"), before) << c.name;
            EXPECT_EQ(table.Failures("10.0.0.2"), 1) << c.name;
            EXPECT_EQ(table.Size(), 2u) << c.name;
        }
    }
}

// The reported case: once a peer's lock ran out, newcomers filling the table pushed its
// record out and it came back with fresh guesses. Its failures stay, so its next one
// locks it for twice as long.
TEST(LanLockout, APeerWhoseLockRanOutIsNotPushedOutByNewcomers) {
    FakeClock clock;
    LanLockout table(clock.Fn(), 4);
    for (int i = 0; i < 5; ++i) FailOnce(table, "10.0.0.1");
    clock.now += 31000;
    for (int i = 2; i <= 20; ++i) {
        const std::string newcomer = "10.0.0." + std::to_string(i);
        if (table.TryBegin(newcomer) == LanAdmission::kAdmitted) table.Failed(newcomer);
        clock.now += 10;
    }
    EXPECT_EQ(table.Size(), 4u);
    EXPECT_EQ(table.Failures("10.0.0.1"), 5);
    FailOnce(table, "10.0.0.1");
    EXPECT_EQ(table.LockedUntil("10.0.0.1"), clock.now + 60000);
}

TEST(LanLockout, IdleRecordsAreForgotten) {
    FakeClock clock;
    LanLockout table(clock.Fn(), 2);
    FailOnce(table, "10.0.0.1");
    FailOnce(table, "10.0.0.2");
    clock.now += LanLockout::kForgetIdleMs;
    EXPECT_EQ(table.TryBegin("10.0.0.3"), LanAdmission::kAdmitted);
    EXPECT_EQ(table.Size(), 1u);
}

TEST(LanLockout, ThreadsRacingOneAddressNeverExceedTheLimit) {
    FakeClock clock;
    LanLockout table(clock.Fn());
    std::atomic<int> admitted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t) {
        threads.emplace_back([&] {
            if (table.TryBegin(kPeer) == LanAdmission::kAdmitted) ++admitted;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(admitted.load(), LanLockout::kLockoutThreshold);
}

}  // namespace
}  // namespace sv
