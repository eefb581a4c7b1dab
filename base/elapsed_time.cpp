#include "base/elapsed_time.h"

#include <chrono>
#include <limits>

namespace sv {

int64_t Elapsed(int64_t now, int64_t then) {
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    if (then > 0 && now < kMin + then) return kMin;
    if (then < 0 && now > kMax + then) return kMax;
    return now - then;
}

int64_t SteadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t SteadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace sv
