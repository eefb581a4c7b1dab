#pragma once
// The time between two readings of a millisecond clock that callers hand in (the hooks'
// clock, event stamps, throttles). Those readings are not ours to trust: a clock may jump
// or a caller may pass any pair, so the difference saturates instead of overflowing.
#include <cstdint>

namespace sv {

// now - then, saturated to the int64 range.
int64_t Elapsed(int64_t now, int64_t then);

// Milliseconds on the steady clock, for intervals: the wall clock steps when the time
// is synchronised.
int64_t SteadyMilliseconds();
// The same clock in nanoseconds, where milliseconds are too coarse.
int64_t SteadyNanoseconds();

}  // namespace sv
