#pragma once
// Whole-frame mode's encode step: scale the captured frame and JPEG it, unless the
// scaled pixels, their size and the quality are exactly those of the last frame it
// encoded. The JPEG would then be the same bytes, so the last one is handed back and
// the encode (the costly part of a still screen) is skipped. What is sent, and when,
// is decided by the caller from those bytes as before.
#include <cstdint>
#include <functional>
#include <vector>

namespace sv {

class WholeFrameEncoder {
public:
    using Codec = std::function<std::vector<uint8_t>(const uint8_t* pixels, int32_t width, int32_t height,
                                                     uint32_t quality)>;

    // The JPEG of the frame scaled to `maxWidth`, valid until the next call; empty when
    // the codec failed (a failure is not remembered: the next call encodes again).
    const std::vector<uint8_t>& Encode(const Codec& codec, const uint8_t* pixels, int32_t width, int32_t height,
                                       int32_t maxWidth, uint32_t quality);

    // Whether the last Encode handed back the previous JPEG without encoding.
    bool Reused() const { return reused_; }
    // Gives back every buffer (the stream stopped).
    void Release();

private:
    std::vector<uint8_t> scaled_;   // this frame shrunk, when it had to be
    std::vector<uint8_t> encoded_;  // the pixels the JPEG below was made from
    std::vector<uint8_t> jpeg_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    uint32_t quality_ = 0;
    bool reused_ = false;
};

}  // namespace sv
