#include "session/relay/reconnect_policy.h"

#include <algorithm>

namespace sv {

int32_t RefusalWaitSeconds(int32_t refusals) {
    if (refusals <= 0) return 0;
    // Past 2^9 the ceiling holds anyway; capping the exponent keeps the shift defined.
    int32_t exponent = std::min(refusals - 1, 30);
    int64_t seconds = int64_t{1} << exponent;
    return static_cast<int32_t>(std::min<int64_t>(seconds, kRefusalWaitCeilingSeconds));
}

RelayWait NextRelayWait(int32_t backoff, int32_t refusals, bool registrationSent) {
    // A back-off outside its range (never produced here) is pulled back into it so a
    // corrupted value can neither spin the loop nor park it for hours.
    backoff = std::clamp(backoff, kRelayBackoffStartSeconds, kRelayBackoffCeilingSeconds);
    // A pass that connected and sent its registration starts the back-off over,
    // whether or not the relay ever answered "registered".
    if (registrationSent) backoff = kRelayBackoffStartSeconds;
    RelayWait out;
    out.nextBackoff = backoff;
    if (refusals > 0) {
        out.waitSeconds = RefusalWaitSeconds(refusals);
        return out;
    }
    out.waitSeconds = backoff;
    if (!registrationSent) out.nextBackoff = std::min(backoff * 2, kRelayBackoffCeilingSeconds);
    return out;
}

int32_t NextMediaRetryDelay(int32_t current) {
    if (current < 1) return 1;
    return std::min(current * 2, kMediaRetryCeilingSeconds);
}

}  // namespace sv
