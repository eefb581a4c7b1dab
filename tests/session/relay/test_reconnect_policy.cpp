#include <gtest/gtest.h>

#include <vector>

#include "session/relay/reconnect_policy.h"

namespace {

// Runs the rule over a sequence of passes the way the relay loop does: `sent` says
// whether each pass connected and sent its registration, `refusals` the refusal
// count the pass ended with. Returns the waits taken.
std::vector<int32_t> Waits(const std::vector<bool>& sent, const std::vector<int32_t>& refusals) {
    std::vector<int32_t> waits;
    int32_t backoff = sv::kRelayBackoffStartSeconds;
    for (size_t i = 0; i < sent.size(); ++i) {
        sv::RelayWait w = sv::NextRelayWait(backoff, refusals.empty() ? 0 : refusals[i], sent[i]);
        waits.push_back(w.waitSeconds);
        backoff = w.nextBackoff;
    }
    return waits;
}

TEST(ReconnectPolicy, UnreachableRelayDoublesToSixty) {
    std::vector<bool> sent(8, false);
    EXPECT_EQ(Waits(sent, {}), (std::vector<int32_t>{5, 10, 20, 40, 60, 60, 60, 60}));
}

TEST(ReconnectPolicy, PassThatSentRegistrationResetsToFive) {
    // Three failures, one pass that got its registration out, then failures again.
    EXPECT_EQ(Waits({false, false, false, true, false, false}, {}),
              (std::vector<int32_t>{5, 10, 20, 5, 5, 10}));
}

TEST(ReconnectPolicy, SentPassResetsEvenWithLargeBackoffGoingIn) {
    sv::RelayWait w = sv::NextRelayWait(60, 0, true);
    EXPECT_EQ(w.waitSeconds, 5);
    EXPECT_EQ(w.nextBackoff, 5);
}

TEST(ReconnectPolicy, RefusalWaitsDoubleFromOneSecond) {
    EXPECT_EQ(Waits({true, true, true}, {1, 2, 3}), (std::vector<int32_t>{1, 2, 4}));
}

TEST(ReconnectPolicy, RefusalWaitTable) {
    EXPECT_EQ(sv::RefusalWaitSeconds(0), 0);
    EXPECT_EQ(sv::RefusalWaitSeconds(-3), 0);
    EXPECT_EQ(sv::RefusalWaitSeconds(1), 1);
    EXPECT_EQ(sv::RefusalWaitSeconds(2), 2);
    EXPECT_EQ(sv::RefusalWaitSeconds(9), 256);
    EXPECT_EQ(sv::RefusalWaitSeconds(10), 300);
    EXPECT_EQ(sv::RefusalWaitSeconds(31), 300);
    EXPECT_EQ(sv::RefusalWaitSeconds(32), 300);
    EXPECT_EQ(sv::RefusalWaitSeconds(1000000), 300);
    EXPECT_EQ(sv::RefusalWaitSeconds(INT32_MAX), 300);
}

TEST(ReconnectPolicy, RefusalsDoNotDoubleTheBackoff) {
    // A refused host whose next connection fails waits the refusal time, and the
    // back-off it returns to afterwards has not grown.
    sv::RelayWait w = sv::NextRelayWait(5, 2, false);
    EXPECT_EQ(w.waitSeconds, 2);
    EXPECT_EQ(w.nextBackoff, 5);
    w = sv::NextRelayWait(w.nextBackoff, 0, false);
    EXPECT_EQ(w.waitSeconds, 5);
    EXPECT_EQ(w.nextBackoff, 10);
}

TEST(ReconnectPolicy, BackoffOutOfRangeIsPulledIn) {
    EXPECT_EQ(sv::NextRelayWait(0, 0, false).waitSeconds, 5);
    EXPECT_EQ(sv::NextRelayWait(-7, 0, false).waitSeconds, 5);
    EXPECT_EQ(sv::NextRelayWait(100000, 0, false).waitSeconds, 60);
    EXPECT_EQ(sv::NextRelayWait(100000, 0, false).nextBackoff, 60);
}

TEST(ReconnectPolicy, NeverWaitsZeroWithoutRefusals) {
    // Whatever the inputs, a loop without refusals never spins.
    for (int32_t b = -10; b <= 200; ++b) {
        for (bool sent : {false, true}) {
            sv::RelayWait w = sv::NextRelayWait(b, 0, sent);
            EXPECT_GE(w.waitSeconds, 5);
            EXPECT_LE(w.waitSeconds, 60);
            EXPECT_GE(w.nextBackoff, 5);
            EXPECT_LE(w.nextBackoff, 60);
        }
    }
}

TEST(ReconnectPolicy, MediaRetryDelays) {
    std::vector<int32_t> delays;
    int32_t d = 1;
    for (int i = 0; i < 9; ++i) {
        delays.push_back(d);
        d = sv::NextMediaRetryDelay(d);
    }
    EXPECT_EQ(delays, (std::vector<int32_t>{1, 2, 4, 8, 16, 32, 60, 60, 60}));
    EXPECT_EQ(sv::NextMediaRetryDelay(0), 1);
}

}  // namespace
