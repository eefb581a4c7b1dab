#include "session/screen/frame_scaling.h"

#include <cstring>

namespace sv {

bool FrameNeedsScaling(int32_t width, int32_t maxWidth) { return maxWidth >= 1 && width > maxWidth; }

void ScaledFrameSize(int32_t width, int32_t height, int32_t maxWidth, int32_t& outWidth, int32_t& outHeight) {
    if (width < 1 || height < 1) {
        outWidth = 0;
        outHeight = 0;
        return;
    }
    outWidth = width;
    outHeight = height;
    if (!FrameNeedsScaling(width, maxWidth)) return;
    outWidth = maxWidth;
    int64_t h = static_cast<int64_t>(maxWidth) * height / width;
    outHeight = h < 1 ? 1 : static_cast<int32_t>(h);
}

void ScaleFrameInto(const uint8_t* pixels, int32_t width, int32_t height, int32_t maxWidth,
                    std::vector<uint8_t>& out, int32_t& outWidth, int32_t& outHeight) {
    ScaledFrameSize(width, height, maxWidth, outWidth, outHeight);
    if (outWidth < 1 || outHeight < 1 || pixels == nullptr) {
        outWidth = 0;
        outHeight = 0;
        out.clear();
        return;
    }
    const size_t srcRow = static_cast<size_t>(width) * 4;
    if (outWidth == width) {
        out.resize(srcRow * static_cast<size_t>(height));
        std::memcpy(out.data(), pixels, out.size());
        return;
    }
    const size_t dstRow = static_cast<size_t>(outWidth) * 4;
    out.resize(dstRow * static_cast<size_t>(outHeight));
    // Source column x * width / outWidth, stepped without a division per pixel.
    const int32_t step = width / outWidth;
    const int32_t stepRem = width % outWidth;
    for (int32_t y = 0; y < outHeight; ++y) {
        const int64_t sy = static_cast<int64_t>(y) * height / outHeight;
        const uint8_t* src = pixels + static_cast<size_t>(sy) * srcRow;
        uint8_t* dst = out.data() + static_cast<size_t>(y) * dstRow;
        int32_t sx = 0;
        int32_t acc = 0;
        for (int32_t x = 0; x < outWidth; ++x) {
            std::memcpy(dst + static_cast<size_t>(x) * 4, src + static_cast<size_t>(sx) * 4, 4);
            sx += step;
            acc += stepRem;
            if (acc >= outWidth) {
                acc -= outWidth;
                ++sx;
            }
        }
    }
}

std::vector<uint8_t> ScaleFrame(const uint8_t* pixels, int32_t width, int32_t height, int32_t maxWidth,
                                int32_t& outWidth, int32_t& outHeight) {
    std::vector<uint8_t> out;
    ScaleFrameInto(pixels, width, height, maxWidth, out, outWidth, outHeight);
    return out;
}

bool RectInFrame(int32_t frameWidth, int32_t frameHeight, int32_t x, int32_t y, int32_t w, int32_t h) {
    return w >= 1 && h >= 1 && x >= 0 && y >= 0 && frameWidth >= 1 && frameHeight >= 1 &&
           static_cast<int64_t>(x) + w <= frameWidth && static_cast<int64_t>(y) + h <= frameHeight;
}

bool CopyFrameRect(const uint8_t* pixels, int32_t frameWidth, int32_t frameHeight, int32_t x, int32_t y, int32_t w,
                   int32_t h, std::vector<uint8_t>& out) {
    if (pixels == nullptr || !RectInFrame(frameWidth, frameHeight, x, y, w, h)) {
        out.clear();
        return false;
    }
    const size_t rowBytes = static_cast<size_t>(w) * 4;
    out.resize(rowBytes * static_cast<size_t>(h));
    for (int32_t i = 0; i < h; ++i) {
        const size_t src = (static_cast<size_t>(y + i) * static_cast<size_t>(frameWidth) + static_cast<size_t>(x)) * 4;
        std::memcpy(out.data() + static_cast<size_t>(i) * rowBytes, pixels + src, rowBytes);
    }
    return true;
}

}  // namespace sv
