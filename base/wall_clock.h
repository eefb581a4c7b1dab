#pragma once
// The wall clock in milliseconds since 1970, for events, transcripts and the hooks'
// throttles.
#include <cstdint>

namespace sv {

int64_t NowMilliseconds();

}  // namespace sv
