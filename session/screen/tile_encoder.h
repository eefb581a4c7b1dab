#pragma once
// Tile frames: the captured frame is scaled, its changed tiles found and merged
// (tile_diff), each rectangle encoded through the codec handed in and the lot written
// as one SVT1 frame (svt1_writer). Pure code: it all runs without GDI+.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "session/screen/svt1_writer.h"
#include "session/screen/tile_diff.h"

namespace sv {

// How rectangles become JPEG bytes; empty bytes mean the encoder failed.
struct TileJpegCodec {
    // Whole frame: width * height 32-bit pixels, stride width * 4.
    std::function<std::vector<uint8_t>(const uint8_t* pixels, int32_t width, int32_t height, int32_t quality)> frame;
    // The w x h rectangle at (x, y) of a frame frameWidth x frameHeight.
    std::function<std::vector<uint8_t>(const uint8_t* pixels, int32_t frameWidth, int32_t frameHeight, int32_t x,
                                       int32_t y, int32_t w, int32_t h, int32_t quality)>
        rect;
};

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

    int32_t Width() const { return diff_.Width(); }
    int32_t Height() const { return diff_.Height(); }
    int32_t Columns() const { return diff_.Columns(); }
    int32_t Rows() const { return diff_.Rows(); }
    const std::vector<uint8_t>& DirtyTiles() const { return diff_.Dirty(); }
    size_t DirtyCount() const { return diff_.DirtyCount(); }
    const std::vector<TileRect>& LastRects() const { return rects_; }

private:
    // Appends the JPEG of `r` (taken from the kept frame) to `out`; false when the
    // codec gave nothing.
    bool AppendRect(const TileRect& r, std::vector<uint8_t>& out);

    std::atomic<int32_t> quality_{60};
    TileJpegCodec codec_;
    TileDiff diff_;
    std::vector<uint8_t> scaled_;  // the latest frame when it had to be shrunk
    std::vector<TileRect> rects_;
};
// The stream's entry point: see TileEncoder::Encode.
void EncodeTileFrame(TileEncoder& encoder, std::vector<uint8_t>& out, const uint8_t* pixels, int32_t width,
                     int32_t height, int32_t maxWidth, uint32_t seq, bool keyframe);

}  // namespace sv
