#pragma once
// The wall clock in milliseconds since 1970, for the times that are reported or stored
// (events, transcripts); intervals are measured on a steady clock, which a time sync
// cannot move.
#include <cstdint>

namespace sv {

int64_t NowMilliseconds();

}  // namespace sv
