#pragma once
// The wall clock in milliseconds since 1970, for the times that are reported or stored
// (events, transcripts); intervals are measured on a steady clock, which a time sync
// cannot move.
#include <cstdint>
#include <ctime>
#include <string>

namespace sv {

int64_t NowMilliseconds();

// `when` (seconds since 1970) as "HH:MM:SS" in this computer's time zone, for a person to
// compare with a clock; empty when it cannot be told.
std::string LocalClockAt(std::time_t when);

}  // namespace sv
