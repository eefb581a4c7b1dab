#pragma once
// The stream's decisions as plain functions: reading the controllers' stream messages,
// pacing, the identical-frame rule, tiles mode and the acknowledgement hold.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "session/relay/relay_messages.h"

namespace sv {

constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kWholeFrameRepeatNs = 3000 * kNsPerMs;  // an unchanged whole frame goes out again after this
constexpr int64_t kAckHoldLimitNs = 2000 * kNsPerMs;      // a lagging controller holds tile frames this long at most
constexpr uint32_t kAckHoldLag = 2;

// What one "stream-control" asks for. Members of the wrong kind (floats, strings) are
// not taken; an "on" that is not a boolean throws, as every unreadable member does.
struct StreamControlRequest {
    bool hasFps = false;
    int32_t fps = 0;
    bool hasQuality = false;
    int32_t quality = 0;
    bool hasMaxWidth = false;
    int32_t maxWidth = 0;
    bool applySwitch = false;  // whether "on" is applied
    bool on = true;
};
StreamControlRequest ReadStreamControl(const nlohmann::json& msg);

// "maxWidth" of a "stream-prefs" when it is an integer within 320..3840.
bool ReadPrefsMaxWidth(const nlohmann::json& msg, int32_t& out);

// "seq" of a "frame-ack": 0 when absent; none (the ack is ignored) when it is not an
// integer that fits 32 unsigned bits, rather than a value wrapped into range.
std::optional<uint32_t> ReadAckSeq(const nlohmann::json& msg);

// The sender's key in per-controller state: a LAN peer without "from" is "lan".
std::string ControllerKey(const std::string& from);

// Pacing: 1000 / fps ms (fps below 2 counts as 1); the sleep after an iteration that
// took `elapsedNs` (1 ms when it used up the whole period).
int64_t PacingPeriodMs(int32_t fps);
int64_t PacingSleepNs(int32_t fps, int64_t elapsedNs);

// Whole-frame mode: whether `jpeg` goes out, given the last frame sent and when. A
// wanted keyframe (a controller just joined or lost a frame) always goes out: on a still
// screen it would otherwise wait for the repeat.
bool ShouldSendWholeFrame(const std::vector<uint8_t>& jpeg, const std::vector<uint8_t>& lastSent, int64_t nowNs,
                          int64_t lastSentNs, bool keyframeWanted = false);

// The slowest controller's lag behind `lastSeq`, in unsigned 32-bit arithmetic (an
// acknowledgement ahead of the last sequence is a very large lag). 0 for no entries.
uint32_t LargestAckLag(const std::map<std::string, uint32_t>& acks, uint32_t lastSeq);

// Whether the next tile frame is held back: some controller is 2 or more frames
// behind and the last tile frame went out no more than 2 s ago.
bool HoldTileFrame(const std::map<std::string, uint32_t>& acks, uint32_t lastSeq, int64_t nowNs, int64_t lastSendNs);

// Tiles mode: somebody watches and the acceptor list is at least as long as the watchers.
bool WantTilesMode(int32_t controllers, int32_t offCount, size_t acceptors);


}  // namespace sv
