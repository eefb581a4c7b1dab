#pragma once
// The argument rules of "say" and "audio", and how long the surface may take to play.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sv {
namespace training {

constexpr size_t kMaxClipBytes = 8388608;  // 8 MiB

// Time the surface may take for one job, queueing included. Speech grows with the text: a
// voice reads about 15 code points a second, so 200 ms each leaves room for slow voices,
// plus 30 s for the voice to start. A clip's length cannot be told from its bytes; ten
// minutes covers any clip of the size limit at ordinary bit rates.
constexpr uint32_t kSpeechBaseTimeoutMs = 30000;
constexpr uint32_t kSpeechPerCodePointMs = 200;
constexpr uint32_t kAudioTimeoutMs = 600000;
uint32_t SpeechTimeoutMs(const std::string& text);

// How much longer than the surface's own time-out the agent waits for its outcome: the
// surface gives up 5 s after the time-out, and reports that itself.
constexpr uint32_t kPlaybackWaitSlackMs = 10000;

struct SayRequest {
    std::string error;  // empty when valid
    std::string text;   // at most 1500 code points
    bool chat = true;
    std::optional<std::string> voiceArg;  // as sent, for the transcript
    std::string voice;
    std::string culture;
    bool wait = true;
};
SayRequest ParseSayRequest(const nlohmann::json& args, const std::string& sessionCulture);

struct AudioRequest {
    std::string error;  // empty when valid
    std::string ext;
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    std::optional<std::string> caption;  // as sent
    bool wait = true;
};
AudioRequest ParseAudioRequest(const nlohmann::json& args);

}  // namespace training
}  // namespace sv
