// A training request's "args", as a controller sends them: every reader the operations
// use, the overlay, speech and audio requests, and the banner and mode texts.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "training/banner_placement.h"
#include "training/clip_base64.h"
#include "training/overlay_request.h"
#include "training/playback_request.h"
#include "training/training_args.h"
#include "training/training_mode.h"

namespace tr = sv::training;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int32_t originX = in.ConsumeIntegral<int32_t>();
    const int32_t originY = in.ConsumeIntegral<int32_t>();
    const nlohmann::json args = nlohmann::json::parse(in.ConsumeRemainingBytesAsString(), nullptr, false);
    if (args.is_discarded()) return 0;
    for (const char* key : {"text", "kind", "x", "y", "w", "h", "ttlMs", "id", "position", "mode", "items", "wait"}) {
        tr::ArgInt(args, key);
        tr::ArgInt64(args, key);
        tr::ArgNumber(args, key);
        tr::ArgBool(args, key);
        tr::ArgStringList(args, key);
        auto s = tr::ArgString(args, key);
        auto cut = tr::CutToCodePoints(s, 7);
        if (cut && tr::CountCodePoints(*cut) > 7) __builtin_trap();
        if (s) {
            tr::TrimWhitespace(*s);
            tr::ParseTrainingMode(*s);
            tr::IsCornerName(*s);
            tr::Base64Decode(*s);
        }
        tr::ParseBannerPosition(s);
    }
    uint32_t ids = 0;
    tr::ParseOverlayRequest(args, originX, originY, [&] { return ++ids; });
    tr::OverlayTtlMs(args);
    tr::ParseSayRequest(args, "id-ID");
    tr::ParseAudioRequest(args);
    return 0;
}
