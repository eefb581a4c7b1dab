#include "base/wall_clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace {

TEST(NowMillisecondsTest, IsTheWallClock) {
    int64_t ms = sv::NowMilliseconds();
    int64_t s = static_cast<int64_t>(std::time(nullptr));
    EXPECT_LE(std::llabs(ms / 1000 - s), 2);
}

}  // namespace
