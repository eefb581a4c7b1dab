// Frames on an open LAN channel: opened from the bytes a peer sends, under the
// session key, as the channel's reader does; every frame the buffer holds.
#include <cstdint>
#include <vector>

#include "net/channel_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> key(32, 0x42);
    sv::ChannelFrameCipher host(key, sv::kRoleHost);
    std::vector<uint8_t> bytes(data, data + size);
    for (int frames = 0; frames < 16 && !bytes.empty(); ++frames) {
        std::vector<uint8_t> payload;
        bool binary = false;
        size_t consumed = 0;
        sv::FrameOpenResult r = host.OpenBuffer(bytes, payload, binary, consumed);
        sv::FrameOpenErrorText(r);
        if (r != sv::FrameOpenResult::kOk) break;
        if (consumed == 0 || consumed > bytes.size()) __builtin_trap();
        bytes.erase(bytes.begin(), bytes.begin() + consumed);
    }
    // Whatever the peer's bytes, a frame the other side seals opens to the same payload.
    sv::ChannelFrameCipher controller(key, sv::kRoleClient);
    sv::ChannelFrameCipher reader(key, sv::kRoleHost);
    std::vector<uint8_t> frame;
    std::vector<uint8_t> payload(data, data + size);
    if (controller.Seal(payload, 1, frame)) {
        std::vector<uint8_t> back;
        bool binary = false;
        size_t consumed = 0;
        if (reader.OpenBuffer(frame, back, binary, consumed) != sv::FrameOpenResult::kOk || back != payload ||
            consumed != frame.size()) {
            __builtin_trap();
        }
    }
    return 0;
}
