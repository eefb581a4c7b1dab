#include "session/screen/whole_frame_encoder.h"

#include <cstring>

#include "session/screen/frame_scaling.h"

namespace sv {

const std::vector<uint8_t>& WholeFrameEncoder::Encode(const Codec& codec, const uint8_t* pixels, int32_t width,
                                                      int32_t height, int32_t maxWidth, uint32_t quality) {
    reused_ = false;
    int32_t w = 0;
    int32_t h = 0;
    const uint8_t* current = pixels;
    const bool scaling = FrameNeedsScaling(width, maxWidth);
    if (pixels != nullptr && scaling) {
        ScaleFrameInto(pixels, width, height, maxWidth, scaled_, w, h);
        current = scaled_.data();
    } else {
        ScaledFrameSize(width, height, maxWidth, w, h);
    }
    if (pixels == nullptr || w < 1 || h < 1) {
        jpeg_.clear();
        width_ = height_ = 0;
        return jpeg_;
    }
    const size_t bytes = static_cast<size_t>(w) * static_cast<size_t>(h) * 4;
    if (!jpeg_.empty() && w == width_ && h == height_ && quality == quality_ && encoded_.size() == bytes &&
        std::memcmp(encoded_.data(), current, bytes) == 0) {
        reused_ = true;
        return jpeg_;
    }
    jpeg_ = codec ? codec(current, w, h, quality) : std::vector<uint8_t>();
    if (jpeg_.empty()) {
        width_ = height_ = 0;
        return jpeg_;
    }
    // Keep what was encoded: a shrunk frame is swapped in (its buffer becomes the next
    // frame's), a full-size one is copied out of the capture.
    if (scaling) {
        encoded_.swap(scaled_);
    } else {
        encoded_.resize(bytes);
        std::memcpy(encoded_.data(), current, bytes);
    }
    width_ = w;
    height_ = h;
    quality_ = quality;
    return jpeg_;
}

void WholeFrameEncoder::Release() {
    std::vector<uint8_t>().swap(scaled_);
    std::vector<uint8_t>().swap(encoded_);
    std::vector<uint8_t>().swap(jpeg_);
    width_ = height_ = 0;
    reused_ = false;
}

}  // namespace sv
