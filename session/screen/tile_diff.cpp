#include "session/screen/tile_diff.h"

#include <algorithm>
#include <cstring>

namespace sv {

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

size_t TileDiff::DirtyCount() const {
    size_t n = 0;
    for (uint8_t b : dirty_) n += b ? 1 : 0;
    return n;
}

void TileDiff::ResetGeometry(int32_t w, int32_t h) {
    width_ = w;
    height_ = h;
    columns_ = (w + kTileSize - 1) / kTileSize;
    rows_ = (h + kTileSize - 1) / kTileSize;
    dirty_.assign(static_cast<size_t>(columns_) * static_cast<size_t>(rows_), 1);
    failed_.assign(dirty_.size(), 0);
    previous_.clear();
}

void TileDiff::Compare(const uint8_t* current, int32_t w, int32_t h, bool keyframe) {
    if (w != width_ || h != height_) ResetGeometry(w, h);
    std::fill(failed_.begin(), failed_.end(), 0);
    const size_t bytes = static_cast<size_t>(w) * static_cast<size_t>(h) * 4;
    if (previous_.size() != bytes) {
        previous_.assign(bytes, 0);
        std::fill(dirty_.begin(), dirty_.end(), 1);
    } else if (keyframe) {
        std::fill(dirty_.begin(), dirty_.end(), 1);
    } else {
        CompareTiles(current);
    }
}

void TileDiff::CompareTiles(const uint8_t* current) {
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

void TileDiff::Adopt(std::vector<uint8_t>& current) {
    if (current.size() == previous_.size()) {
        previous_.swap(current);
    } else {
        Keep(current.data());
    }
}

void TileDiff::Keep(const uint8_t* current) {
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

void TileDiff::Rects(std::vector<TileRect>& out) const {
    out.clear();
    const size_t count = DirtyCount();
    if (count == 0) return;
    if (!SendsWholeFrame(count, dirty_.size())) {
        MergeDirtyTiles(dirty_, columns_, rows_, width_, height_, out);
        // The record count is 16 bits: more rectangles than that go out as one.
        if (out.size() <= 0xFFFF) return;
        out.clear();
    }
    out.push_back({0, 0, width_, height_});
}

void TileDiff::Mark(const TileRect& r, std::vector<uint8_t>& bits) const {
    const int32_t tx0 = r.x / kTileSize;
    const int32_t ty0 = r.y / kTileSize;
    const int32_t tx1 = std::min((r.x + r.w + kTileSize - 1) / kTileSize, columns_);
    const int32_t ty1 = std::min((r.y + r.h + kTileSize - 1) / kTileSize, rows_);
    for (int32_t ty = ty0; ty < ty1; ++ty) {
        for (int32_t tx = tx0; tx < tx1; ++tx) bits[static_cast<size_t>(ty) * columns_ + tx] = 1;
    }
}

void TileDiff::MarkFailed(const TileRect& r) { Mark(r, failed_); }

void TileDiff::Commit() {
    for (size_t i = 0; i < dirty_.size(); ++i) dirty_[i] = failed_[i];
    std::fill(failed_.begin(), failed_.end(), 0);
}

}  // namespace sv
