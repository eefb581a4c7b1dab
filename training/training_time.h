#pragma once
// Calendar texts for the training agent's time stamps (milliseconds or seconds since 1970).
#include <cstdint>
#include <ctime>
#include <string>

namespace sv {
namespace training {

// "%Y-%m-%dT%H:%M:%SZ" in UTC, computed without the C library so any 64-bit value works.
std::string FormatUtcSeconds(int64_t secondsSince1970);

// The local calendar time of a millisecond clock value.
std::tm LocalTimeOf(int64_t msSince1970);

}  // namespace training
}  // namespace sv
