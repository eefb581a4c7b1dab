#include "training/playback_request.h"

#include "training/clip_base64.h"
#include "base/case_fold.h"
#include "training/training_args.h"

namespace sv {
namespace training {

using nlohmann::json;

uint32_t SpeechTimeoutMs(const std::string& text) {
    // The text is capped at 1500 code points before it gets here; the sum stays far below
    // 2^32 even for an uncapped one of a few million.
    uint64_t ms = kSpeechBaseTimeoutMs + static_cast<uint64_t>(CountCodePoints(text)) * kSpeechPerCodePointMs;
    return ms > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
}

SayRequest ParseSayRequest(const json& args, const std::string& sessionCulture) {
    SayRequest r;
    std::optional<std::string> text = CutToCodePoints(ArgString(args, "text"), 1500);
    if (IsBlank(text)) {
        r.error = "say needs text";
        return r;
    }
    r.text = *text;
    std::optional<bool> chat = ArgBool(args, "chat");
    r.chat = !(chat && !*chat);
    r.voiceArg = ArgString(args, "voice");
    r.voice = r.voiceArg.value_or("");
    r.culture = ArgString(args, "culture").value_or(sessionCulture);
    r.wait = ArgBool(args, "wait").value_or(true);
    return r;
}

AudioRequest ParseAudioRequest(const json& args) {
    AudioRequest r;
    std::string ext = AsciiLower(ArgString(args, "ext").value_or("mp3"));
    ext.erase(0, ext.find_first_not_of('.') == std::string::npos ? ext.size() : ext.find_first_not_of('.'));
    if (ext != "mp3" && ext != "wav" && ext != "m4a" && ext != "wma") {
        r.error = "audio ext must be mp3, wav, m4a or wma";
        return r;
    }
    r.ext = ext;
    std::optional<std::string> data = ArgString(args, "data");
    if (!data || data->empty()) {
        r.error = "audio data is empty";
        return r;
    }
    auto bytes = std::make_shared<std::vector<uint8_t>>(Base64Decode(*data));
    if (bytes->empty()) {
        r.error = "audio data must be base64";
        return r;
    }
    if (bytes->size() > kMaxClipBytes) {
        r.error = "audio clip is " + std::to_string(bytes->size() / 1024) + " KB; the limit is " +
                  std::to_string(kMaxClipBytes / 1048576) + " MB";
        return r;
    }
    r.bytes = std::move(bytes);
    r.caption = ArgString(args, "caption");
    r.wait = ArgBool(args, "wait").value_or(true);
    return r;
}

}  // namespace training
}  // namespace sv
