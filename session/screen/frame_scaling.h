#pragma once
// Pixel-frame arithmetic shared by the stream and the tile encoder: nearest-neighbour
// shrinking to a maximum width and copying a rectangle out of a frame. Frames are
// 32-bit pixels, rows top to bottom with no padding (stride = width * 4).
#include <cstdint>
#include <vector>

namespace sv {

// Whether a frame `width` pixels wide is shrunk for `maxWidth` (below 1 means no limit).
bool FrameNeedsScaling(int32_t width, int32_t maxWidth);

// The size a width x height frame takes for `maxWidth`, without touching pixels.
void ScaledFrameSize(int32_t width, int32_t height, int32_t maxWidth, int32_t& outWidth, int32_t& outHeight);

// The frame shrunk to at most `maxWidth` pixels wide (an unchanged copy when it is
// narrow enough). Non-positive sizes give empty bytes and an output size of 0 x 0.
std::vector<uint8_t> ScaleFrame(const uint8_t* pixels, int32_t width, int32_t height, int32_t maxWidth,
                                int32_t& outWidth, int32_t& outHeight);

// The same into a buffer the caller keeps from frame to frame, so the stream path
// allocates nothing once the size is steady.
void ScaleFrameInto(const uint8_t* pixels, int32_t width, int32_t height, int32_t maxWidth,
                    std::vector<uint8_t>& out, int32_t& outWidth, int32_t& outHeight);

// Whether the w x h rectangle at (x, y) is not empty and lies inside the frame.
bool RectInFrame(int32_t frameWidth, int32_t frameHeight, int32_t x, int32_t y, int32_t w, int32_t h);

// Copies the w x h rectangle at (x, y) of a frame `frameWidth` x `frameHeight` into `out`
// (resized to w * h * 4). False, with `out` emptied, when the rectangle is empty or
// does not lie inside the frame.
bool CopyFrameRect(const uint8_t* pixels, int32_t frameWidth, int32_t frameHeight, int32_t x, int32_t y, int32_t w,
                   int32_t h, std::vector<uint8_t>& out);

}  // namespace sv
