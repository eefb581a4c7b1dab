#include "session/screen/tile_encoder.h"

#include <algorithm>
#include <cstring>

#include "session/screen/frame_scaling.h"
#include "session/screen/screen_capture.h"

namespace sv {

void AppendU16Le(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

void AppendU32Le(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 16) & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 24) & 0xFF));
}

bool SendsWholeFrame(size_t count, size_t total) {
    return count == total || static_cast<double>(count) > 0.6 * static_cast<double>(total);
}

void MergeDirtyTiles(const std::vector<uint8_t>& dirty, int32_t columns, int32_t rows, int32_t width, int32_t height,
                     std::vector<TileRect>& out) {
    out.clear();
    if (columns < 1 || rows < 1 || dirty.size() < static_cast<size_t>(columns) * static_cast<size_t>(rows)) return;
    struct Open {
        int32_t first;
        int32_t last;
        int32_t startRow;
    };
    struct Run {
        int32_t first;
        int32_t last;
        bool taken;
    };
    std::vector<Open> open;
    std::vector<Open> next;
    std::vector<Run> runs;
    for (int32_t r = 0; r <= rows; ++r) {
        runs.clear();
        if (r < rows) {
            const uint8_t* row = dirty.data() + static_cast<size_t>(r) * static_cast<size_t>(columns);
            for (int32_t c = 0; c < columns;) {
                if (!row[c]) {
                    ++c;
                    continue;
                }
                int32_t first = c;
                while (c < columns && row[c]) ++c;
                runs.push_back({first, c - 1, false});
            }
        }
        next.clear();
        for (const Open& o : open) {
            auto same = std::find_if(runs.begin(), runs.end(), [&](const Run& run) {
                return !run.taken && run.first == o.first && run.last == o.last;
            });
            if (same != runs.end()) {
                same->taken = true;
                next.push_back(o);
                continue;
            }
            TileRect rect;
            rect.x = o.first * kTileSize;
            rect.y = o.startRow * kTileSize;
            rect.w = std::min((o.last + 1) * kTileSize, width) - rect.x;
            rect.h = std::min(r * kTileSize, height) - rect.y;
            out.push_back(rect);
        }
        for (const Run& run : runs) {
            if (!run.taken) next.push_back({run.first, run.last, r});
        }
        open.swap(next);
    }
}

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

size_t TileEncoder::DirtyCount() const {
    size_t n = 0;
    for (uint8_t b : dirty_) n += b ? 1 : 0;
    return n;
}

void TileEncoder::ResetGeometry(int32_t w, int32_t h) {
    width_ = w;
    height_ = h;
    columns_ = (w + kTileSize - 1) / kTileSize;
    rows_ = (h + kTileSize - 1) / kTileSize;
    dirty_.assign(static_cast<size_t>(columns_) * static_cast<size_t>(rows_), 1);
    failed_.assign(dirty_.size(), 0);
    previous_.clear();
}

void TileEncoder::MarkAll() { std::fill(dirty_.begin(), dirty_.end(), 1); }

void TileEncoder::CompareTiles(const uint8_t* current) {
    // Row by row through memory rather than tile by tile: an unchanged frame costs one
    // pass over both frames, the same as a plain comparison of the whole buffers.
    // Only spans of tiles not yet marked are compared; a marked tile is never looked at again.
    const size_t rowBytes = static_cast<size_t>(width_) * 4;
    for (int32_t ty = 0; ty < rows_; ++ty) {
        uint8_t* bits = dirty_.data() + static_cast<size_t>(ty) * static_cast<size_t>(columns_);
        int32_t clean = 0;
        for (int32_t tx = 0; tx < columns_; ++tx) clean += bits[tx] ? 0 : 1;
        const int32_t y0 = ty * kTileSize;
        const int32_t y1 = std::min(y0 + kTileSize, height_);
        for (int32_t y = y0; y < y1 && clean > 0; ++y) {
            const uint8_t* a = current + static_cast<size_t>(y) * rowBytes;
            const uint8_t* b = previous_.data() + static_cast<size_t>(y) * rowBytes;
            for (int32_t tx = 0; tx < columns_;) {
                if (bits[tx]) {
                    ++tx;
                    continue;
                }
                int32_t first = tx;
                while (tx < columns_ && !bits[tx]) ++tx;
                const size_t from = static_cast<size_t>(first) * kTileSize * 4;
                const size_t to = std::min(static_cast<size_t>(tx) * kTileSize * 4, rowBytes);
                if (std::memcmp(a + from, b + from, to - from) == 0) continue;
                for (int32_t t = first; t < tx; ++t) {
                    const size_t f = static_cast<size_t>(t) * kTileSize * 4;
                    const size_t e = std::min(f + kTileSize * 4, rowBytes);
                    if (std::memcmp(a + f, b + f, e - f) != 0) {
                        bits[t] = 1;
                        --clean;
                    }
                }
            }
        }
    }
}

void TileEncoder::RefreshPrevious(const uint8_t* current) {
    // Tiles that are not marked compared equal, so only marked tiles need copying.
    const size_t rowBytes = static_cast<size_t>(width_) * 4;
    if (DirtyCount() == dirty_.size()) {
        std::memcpy(previous_.data(), current, previous_.size());
        return;
    }
    for (int32_t ty = 0; ty < rows_; ++ty) {
        const uint8_t* bits = dirty_.data() + static_cast<size_t>(ty) * static_cast<size_t>(columns_);
        const int32_t y0 = ty * kTileSize;
        const int32_t y1 = std::min(y0 + kTileSize, height_);
        for (int32_t tx = 0; tx < columns_;) {
            if (!bits[tx]) {
                ++tx;
                continue;
            }
            int32_t first = tx;
            while (tx < columns_ && bits[tx]) ++tx;
            const size_t from = static_cast<size_t>(first) * kTileSize * 4;
            const size_t to = std::min(static_cast<size_t>(tx) * kTileSize * 4, rowBytes);
            for (int32_t y = y0; y < y1; ++y) {
                const size_t off = static_cast<size_t>(y) * rowBytes + from;
                std::memcpy(previous_.data() + off, current + off, to - from);
            }
        }
    }
}

void TileEncoder::MarkRect(const TileRect& r, std::vector<uint8_t>& bits) const {
    const int32_t tx0 = r.x / kTileSize;
    const int32_t ty0 = r.y / kTileSize;
    const int32_t tx1 = std::min((r.x + r.w + kTileSize - 1) / kTileSize, columns_);
    const int32_t ty1 = std::min((r.y + r.h + kTileSize - 1) / kTileSize, rows_);
    for (int32_t ty = ty0; ty < ty1; ++ty) {
        for (int32_t tx = tx0; tx < tx1; ++tx) bits[static_cast<size_t>(ty) * columns_ + tx] = 1;
    }
}

std::vector<uint8_t> TileEncoder::EncodeRect(const TileRect& r) {
    const int32_t q = quality_.load();
    if (r.x == 0 && r.y == 0 && r.w == width_ && r.h == height_) {
        if (!codec_.frame) return {};
        return codec_.frame(previous_.data(), width_, height_, q);
    }
    if (!codec_.rect) return {};
    return codec_.rect(previous_.data(), width_, height_, r.x, r.y, r.w, r.h, q);
}

void TileEncoder::Encode(std::vector<uint8_t>& out, const uint8_t* pixels, int32_t width, int32_t height,
                         int32_t maxWidth, uint32_t seq, bool keyframe) {
    out.clear();
    rects_.clear();
    if (pixels == nullptr) return;
    int32_t w = 0;
    int32_t h = 0;
    const uint8_t* current = pixels;
    if (FrameNeedsScaling(width, maxWidth)) {
        ScaleFrameInto(pixels, width, height, maxWidth, scaled_, w, h);
        current = scaled_.data();
    } else {
        ScaledFrameSize(width, height, maxWidth, w, h);
    }
    // SVT1 carries sizes as 16-bit numbers; a frame it cannot describe is not sent.
    if (w < 1 || h < 1 || w > 0xFFFF || h > 0xFFFF) return;

    if (w != width_ || h != height_) ResetGeometry(w, h);
    const size_t bytes = static_cast<size_t>(w) * static_cast<size_t>(h) * 4;
    if (previous_.size() != bytes) {
        previous_.assign(bytes, 0);
        MarkAll();
    } else if (keyframe) {
        MarkAll();
    } else {
        CompareTiles(current);
    }
    // The previous frame becomes this one; rectangles are encoded from it from here on.
    if (current == scaled_.data()) {
        previous_.swap(scaled_);
    } else {
        RefreshPrevious(current);
    }
    std::fill(failed_.begin(), failed_.end(), 0);

    const size_t count = DirtyCount();
    if (count == 0) return;
    if (SendsWholeFrame(count, dirty_.size())) {
        rects_.push_back({0, 0, w, h});
    } else {
        MergeDirtyTiles(dirty_, columns_, rows_, w, h, rects_);
        if (rects_.size() > 0xFFFF) {
            rects_.clear();
            rects_.push_back({0, 0, w, h});
        }
    }
    const bool whole = rects_.size() == 1 && rects_[0].w == w && rects_[0].h == h;

    out.reserve(16384);
    out.insert(out.end(), {'S', 'V', 'T', '1'});
    AppendU32Le(out, seq);
    AppendU16Le(out, static_cast<uint16_t>(w));
    AppendU16Le(out, static_cast<uint16_t>(h));
    out.push_back(whole ? 1 : 0);
    AppendU16Le(out, static_cast<uint16_t>(rects_.size()));
    for (const TileRect& r : rects_) {
        AppendU16Le(out, static_cast<uint16_t>(r.x));
        AppendU16Le(out, static_cast<uint16_t>(r.y));
        AppendU16Le(out, static_cast<uint16_t>(r.w));
        AppendU16Le(out, static_cast<uint16_t>(r.h));
        std::vector<uint8_t> jpeg = EncodeRect(r);
        if (jpeg.empty()) jpeg = EncodeRect(r);
        if (jpeg.empty() || jpeg.size() > 0xFFFFFFFFu) {
            // The count is already written, so the record stays, empty; its tiles are
            // kept marked past the commit and go out again with the next frame.
            MarkRect(r, failed_);
            AppendU32Le(out, 0);
            continue;
        }
        AppendU32Le(out, static_cast<uint32_t>(jpeg.size()));
        out.insert(out.end(), jpeg.begin(), jpeg.end());
    }
}

void TileEncoder::Commit() {
    for (size_t i = 0; i < dirty_.size(); ++i) dirty_[i] = failed_[i];
    std::fill(failed_.begin(), failed_.end(), 0);
}

void EncodeTileFrame(TileEncoder& encoder, std::vector<uint8_t>& out, const uint8_t* pixels, int32_t width,
                     int32_t height, int32_t maxWidth, uint32_t seq, bool keyframe) {
    encoder.Encode(out, pixels, width, height, maxWidth, seq, keyframe);
}

}  // namespace sv
