#pragma once
// The SVT1 tile frame, written little-endian with no alignment:
//   "SVT1" | seq u32 | width u16 | height u16 | whole-frame flag u8 | count u16
//   then per rectangle: x u16 | y u16 | w u16 | h u16 | length u32 | JPEG bytes
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sv {

struct TileRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t w = 0;
    int32_t h = 0;
    bool operator==(const TileRect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};

constexpr size_t kSvt1HeaderSize = 15;
constexpr size_t kSvt1RectHeaderSize = 12;

void AppendU16Le(std::vector<uint8_t>& out, uint16_t value);
void AppendU32Le(std::vector<uint8_t>& out, uint32_t value);

// Replaces `out` with the header of a frame of `count` rectangles (out keeps its capacity).
void BeginSvt1Frame(std::vector<uint8_t>& out, uint32_t seq, int32_t width, int32_t height, bool whole,
                    size_t count);
// Appends a rectangle record whose length is not known yet; returns where the length goes.
size_t BeginSvt1Rect(std::vector<uint8_t>& out, const TileRect& r);
// Writes the length of the JPEG appended since BeginSvt1Rect. A JPEG too long for its
// 32-bit length is dropped and the record carries length 0 (false).
bool EndSvt1Rect(std::vector<uint8_t>& out, size_t lengthAt);

}  // namespace sv
