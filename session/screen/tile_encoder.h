#pragma once
// Changed-tile diffing and the SVT1 frame format.
//
// The encoder keeps the previous frame, marks the 64 x 64 tiles whose pixels changed,
// merges marked tiles into rectangles and packs their JPEGs into one little-endian
// SVT1 frame:
//   "SVT1" | seq u32 | width u16 | height u16 | whole-frame flag u8 | count u16
//   then per rectangle: x u16 | y u16 | w u16 | h u16 | length u32 | JPEG bytes
// Pure code: the JPEG encoder is a function handed in, so all of it runs without GDI+.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace sv {

struct TileRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t w = 0;
    int32_t h = 0;
    bool operator==(const TileRect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};

// How rectangles become JPEG bytes; empty bytes mean the encoder failed.
struct TileJpegCodec {
    // Whole frame: width * height 32-bit pixels, stride width * 4.
    std::function<std::vector<uint8_t>(const uint8_t* pixels, int32_t width, int32_t height, int32_t quality)> frame;
    // The w x h rectangle at (x, y) of a frame frameWidth x frameHeight.
    std::function<std::vector<uint8_t>(const uint8_t* pixels, int32_t frameWidth, int32_t frameHeight, int32_t x,
                                       int32_t y, int32_t w, int32_t h, int32_t quality)>
        rect;
};

constexpr int32_t kTileSize = 64;
constexpr size_t kSvt1HeaderSize = 15;
constexpr size_t kSvt1RectHeaderSize = 12;

void AppendU16Le(std::vector<uint8_t>& out, uint16_t value);
void AppendU32Le(std::vector<uint8_t>& out, uint32_t value);

// Merges the set tiles of a columns x rows grid (one byte per tile, nonzero = set,
// row by row) into rectangles of a width x height frame: runs that line up exactly
// grow downwards; rectangles are listed in the order they close.
void MergeDirtyTiles(const std::vector<uint8_t>& dirty, int32_t columns, int32_t rows, int32_t width, int32_t height,
                     std::vector<TileRect>& out);

// Whether `count` set tiles of `total` are sent as one whole-frame rectangle.
bool SendsWholeFrame(size_t count, size_t total);

class TileEncoder {
public:
    TileEncoder();  // the GDI+ JPEG encoder
    explicit TileEncoder(TileJpegCodec codec);

    // Written by the message dispatcher while the stream thread reads it.
    void SetQuality(int32_t q) { quality_.store(q); }
    int32_t Quality() const { return quality_.load(); }
    void SetCodec(TileJpegCodec codec) { codec_ = std::move(codec); }

    // One SVT1 frame for the captured pixels into `out`, or `out` left empty when no
    // tile changed. `out` keeps its capacity from call to call.
    void Encode(std::vector<uint8_t>& out, const uint8_t* pixels, int32_t width, int32_t height, int32_t maxWidth,
                uint32_t seq, bool keyframe);

    // After a successful send: the sent tiles are clean again. Tiles whose JPEG could
    // not be made stay marked, so they go out with a later frame.
    void Commit();

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    int32_t Columns() const { return columns_; }
    int32_t Rows() const { return rows_; }
    const std::vector<uint8_t>& DirtyTiles() const { return dirty_; }
    size_t DirtyCount() const;
    const std::vector<TileRect>& LastRects() const { return rects_; }

private:
    void ResetGeometry(int32_t w, int32_t h);
    void MarkAll();
    void CompareTiles(const uint8_t* current);
    void RefreshPrevious(const uint8_t* current);
    void MarkRect(const TileRect& r, std::vector<uint8_t>& bits) const;
    std::vector<uint8_t> EncodeRect(const TileRect& r);

    std::atomic<int32_t> quality_{60};
    TileJpegCodec codec_;
    std::vector<uint8_t> scaled_;    // the latest frame when it had to be shrunk
    std::vector<uint8_t> previous_;  // the frame the next one is compared against
    std::vector<uint8_t> dirty_;     // one byte per tile, row by row
    std::vector<uint8_t> failed_;    // tiles of rectangles whose JPEG came out empty
    std::vector<TileRect> rects_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t columns_ = 0;
    int32_t rows_ = 0;
};

// The stream's entry point: see TileEncoder::Encode.
void EncodeTileFrame(TileEncoder& encoder, std::vector<uint8_t>& out, const uint8_t* pixels, int32_t width,
                     int32_t height, int32_t maxWidth, uint32_t seq, bool keyframe);

}  // namespace sv
