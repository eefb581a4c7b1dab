#include "session/screen/stream_rules.h"

#include <cstdint>

#include <limits>

namespace sv {
namespace {

// An integer member as int64; huge unsigned values saturate so range checks refuse them.
bool ReadInteger(const nlohmann::json& msg, const char* key, int64_t& out) {
    auto it = msg.find(key);
    if (it == msg.end() || !it->is_number_integer()) return false;
    if (it->is_number_unsigned()) {
        uint64_t u = it->get<uint64_t>();
        out = u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max()
                                                                              : static_cast<int64_t>(u);
    } else {
        out = it->get<int64_t>();
    }
    return true;
}

}  // namespace

StreamControlRequest ReadStreamControl(const nlohmann::json& msg) {
    StreamControlRequest r;
    int64_t v = 0;
    if (ReadInteger(msg, "fps", v) && v >= 1 && v <= 60) {
        r.hasFps = true;
        r.fps = static_cast<int32_t>(v);
    }
    if (ReadInteger(msg, "quality", v) && v >= 1 && v <= 100) {
        r.hasQuality = true;
        r.quality = static_cast<int32_t>(v);
    }
    if (ReadInteger(msg, "maxWidth", v) && v >= 320 && v <= std::numeric_limits<int32_t>::max()) {
        r.hasMaxWidth = true;
        r.maxWidth = static_cast<int32_t>(v);
    }
    r.on = msg.value("on", true);
    r.applySwitch = !(msg.contains("h264") && r.on);
    return r;
}

bool ReadPrefsMaxWidth(const nlohmann::json& msg, int32_t& out) {
    int64_t v = 0;
    if (!ReadInteger(msg, "maxWidth", v) || v < 320 || v > 3840) return false;
    out = static_cast<int32_t>(v);
    return true;
}

std::optional<uint32_t> ReadAckSeq(const nlohmann::json& msg) {
    auto it = msg.find("seq");
    if (it == msg.end() || it->is_null()) return 0u;
    if (it->is_number_unsigned()) {
        uint64_t v = it->get<uint64_t>();
        if (v <= UINT32_MAX) return static_cast<uint32_t>(v);
    } else if (it->is_number_integer()) {
        int64_t v = it->get<int64_t>();
        if (v >= 0 && v <= INT64_C(0xFFFFFFFF)) return static_cast<uint32_t>(v);
    }
    return std::nullopt;
}

std::string ControllerKey(const std::string& from) { return from.empty() ? std::string("lan") : from; }

int64_t PacingPeriodMs(int32_t fps) { return 1000 / (fps < 2 ? 1 : fps); }

int64_t PacingSleepNs(int32_t fps, int64_t elapsedNs) {
    const int64_t period = PacingPeriodMs(fps) * kNsPerMs;
    if (elapsedNs >= period) return kNsPerMs;
    return period - elapsedNs;
}

bool ShouldSendWholeFrame(const std::vector<uint8_t>& jpeg, const std::vector<uint8_t>& lastSent, int64_t nowNs,
                          int64_t lastSentNs, bool keyframeWanted) {
    if (keyframeWanted) return true;
    return !(jpeg == lastSent && nowNs - lastSentNs < kWholeFrameRepeatNs);
}

uint32_t LargestAckLag(const std::map<std::string, uint32_t>& acks, uint32_t lastSeq) {
    uint32_t lag = 0;
    for (const auto& entry : acks) {
        uint32_t d = lastSeq - entry.second;
        if (d > lag) lag = d;
    }
    return lag;
}

bool HoldTileFrame(const std::map<std::string, uint32_t>& acks, uint32_t lastSeq, int64_t nowNs, int64_t lastSendNs) {
    if (acks.empty()) return false;
    return LargestAckLag(acks, lastSeq) >= kAckHoldLag && nowNs - lastSendNs <= kAckHoldLimitNs;
}

bool WantTilesMode(int32_t controllers, int32_t offCount, size_t acceptors) {
    const int64_t watching = static_cast<int64_t>(controllers) - offCount;
    return watching > 0 && static_cast<int64_t>(acceptors) >= watching;
}


}  // namespace sv
