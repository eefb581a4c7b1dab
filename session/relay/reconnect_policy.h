#pragma once
// How long the host waits between relay connection attempts, and how long a
// media thread waits between its own attempts. Plain arithmetic, no clocks.
#include <cstdint>

namespace sv {

// The wait after a relay pass that found no usable connection starts here,
// doubles per failed pass and stops growing at the ceiling.
constexpr int32_t kRelayBackoffStartSeconds = 5;
constexpr int32_t kRelayBackoffCeilingSeconds = 60;
// The relay told us our id is taken: wait 1, 2, 4, ... seconds up to this.
constexpr int32_t kRefusalWaitCeilingSeconds = 300;
// Media attach retries: 1, 2, 4, ... seconds up to this.
constexpr int32_t kMediaRetryCeilingSeconds = 60;

struct RelayWait {
    int32_t waitSeconds = 0;  // how long to wait before the next pass
    int32_t nextBackoff = 0;  // the back-off the pass after that starts from
};

// `backoff` is the back-off going into the wait, `refusals` how many
// "in use" refusals came in a row, `registrationSent` whether this pass got as far
// as sending its registration.
RelayWait NextRelayWait(int32_t backoff, int32_t refusals, bool registrationSent);

// The wait after n refusals in a row: 2^(n-1) seconds, at most 300; 0 when n <= 0.
int32_t RefusalWaitSeconds(int32_t refusals);

// The media thread's next retry delay after one of `current` seconds.
int32_t NextMediaRetryDelay(int32_t current);

}  // namespace sv
