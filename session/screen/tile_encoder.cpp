#include "session/screen/tile_encoder.h"

#include <algorithm>
#include <cstring>

#include "session/screen/frame_scaling.h"
#include "session/screen/screen_capture.h"

namespace sv {

namespace {

TileJpegCodec GdiplusCodec() {
    TileJpegCodec codec;
    codec.frame = [](const uint8_t* pixels, int32_t width, int32_t height, int32_t quality) {
        return EncodeJpegFrame(pixels, width, height, static_cast<uint32_t>(quality));
    };
    codec.rect = [](const uint8_t* pixels, int32_t frameWidth, int32_t frameHeight, int32_t x, int32_t y, int32_t w,
                    int32_t h, int32_t quality) {
        return EncodeJpegRect(pixels, frameWidth, frameHeight, x, y, w, h, static_cast<uint32_t>(quality));
    };
    return codec;
}

}  // namespace

TileEncoder::TileEncoder() : codec_(GdiplusCodec()) {}

TileEncoder::TileEncoder(TileJpegCodec codec) : codec_(std::move(codec)) {}

bool TileEncoder::AppendRect(const TileRect& r, std::vector<uint8_t>& out) {
    const int32_t q = quality_.load();
    const std::vector<uint8_t>& frame = diff_.Previous();
    std::vector<uint8_t> jpeg;
    if (r.x == 0 && r.y == 0 && r.w == diff_.Width() && r.h == diff_.Height()) {
        if (codec_.frame) jpeg = codec_.frame(frame.data(), r.w, r.h, q);
    } else if (codec_.rect) {
        jpeg = codec_.rect(frame.data(), diff_.Width(), diff_.Height(), r.x, r.y, r.w, r.h, q);
    }
    if (jpeg.empty()) return false;
    out.insert(out.end(), jpeg.begin(), jpeg.end());
    return true;
}

void TileEncoder::Encode(std::vector<uint8_t>& out, const uint8_t* pixels, int32_t width, int32_t height,
                         int32_t maxWidth, uint32_t seq, bool keyframe) {
    out.clear();
    rects_.clear();
    if (pixels == nullptr) return;
    int32_t w = 0;
    int32_t h = 0;
    const bool scaling = FrameNeedsScaling(width, maxWidth);
    if (scaling) {
        ScaleFrameInto(pixels, width, height, maxWidth, scaled_, w, h);
    } else {
        ScaledFrameSize(width, height, maxWidth, w, h);
    }
    // SVT1 carries sizes as 16-bit numbers; a frame it cannot describe is not sent.
    if (w < 1 || h < 1 || w > 0xFFFF || h > 0xFFFF) return;

    const uint8_t* current = scaling ? scaled_.data() : pixels;
    diff_.Compare(current, w, h, keyframe);
    // The previous frame becomes this one; rectangles are encoded from it from here on.
    if (scaling) {
        diff_.Adopt(scaled_);
    } else {
        diff_.Keep(current);
    }
    diff_.Rects(rects_);
    if (rects_.empty()) return;
    const bool whole = rects_.size() == 1 && rects_[0].w == w && rects_[0].h == h;

    out.reserve(16384);
    BeginSvt1Frame(out, seq, w, h, whole, rects_.size());
    for (const TileRect& r : rects_) {
        const size_t lengthAt = BeginSvt1Rect(out, r);
        bool ok = AppendRect(r, out) || AppendRect(r, out);
        if (ok) ok = EndSvt1Rect(out, lengthAt);
        if (!ok) {
            // The count is already written, so the record stays, empty; its tiles are
            // kept marked past the commit and go out again with the next frame.
            diff_.MarkFailed(r);
        }
    }
}

void TileEncoder::Commit() { diff_.Commit(); }

void EncodeTileFrame(TileEncoder& encoder, std::vector<uint8_t>& out, const uint8_t* pixels, int32_t width,
                     int32_t height, int32_t maxWidth, uint32_t seq, bool keyframe) {
    encoder.Encode(out, pixels, width, height, maxWidth, seq, keyframe);
}

}  // namespace sv
