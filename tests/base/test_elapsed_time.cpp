#include "base/elapsed_time.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(ElapsedTime, SaturatesInsteadOfOverflowing) {
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    struct Case {
        int64_t now, then, want;
    };
    const Case cases[] = {
        {1700000000500, 1700000000000, 500}, {5, 9, -4},       {kMax, -1, kMax},       {kMax, kMin, kMax},
        {kMin, 1, kMin},                     {kMin, kMax, kMin}, {kMin + 5, 5, kMin}, {kMax - 5, -5, kMax},
        {0, kMin + 1, kMax},
    };
    for (const Case& c : cases) EXPECT_EQ(sv::Elapsed(c.now, c.then), c.want) << c.now << " - " << c.then;
}

// Intervals measured with one and compared with the other must agree: same clock, same epoch.
TEST(ElapsedTime, NanosecondsAreTheMillisecondClock) {
    const int64_t before = sv::SteadyMilliseconds();
    const int64_t ns = sv::SteadyNanoseconds();
    const int64_t after = sv::SteadyMilliseconds();
    EXPECT_LE(before, ns / 1000000);
    EXPECT_GE(after, ns / 1000000);
}

}  // namespace
