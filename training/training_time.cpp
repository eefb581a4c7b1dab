#include "training/training_time.h"

#include <cstdint>
#include <cstdio>

namespace sv {
namespace training {

namespace {

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's civil_from_days).
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

}  // namespace

std::string FormatUtcSeconds(int64_t secs) {
    // Keep the day arithmetic far from overflow; such dates are nonsense anyway.
    const int64_t limit = 100000LL * 366 * 86400;
    if (secs > limit) secs = limit;
    if (secs < -limit) secs = -limit;
    int64_t days = secs / 86400;
    int64_t rem = secs % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    int64_t y = 0;
    unsigned m = 0;
    unsigned d = 0;
    CivilFromDays(days, y, m, d);
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(y), m, d,
                  static_cast<unsigned>(rem / 3600), static_cast<unsigned>(rem % 3600 / 60),
                  static_cast<unsigned>(rem % 60));
    return buf;
}

std::tm LocalTimeOf(int64_t ms) {
    std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm out{};
#ifdef _WIN32
    if (localtime_s(&out, &t) != 0) out = std::tm{};
#else
    if (!localtime_r(&t, &out)) out = std::tm{};
#endif
    return out;
}

}  // namespace training
}  // namespace sv
