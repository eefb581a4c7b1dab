#pragma once
// Which 64 x 64 tiles of a frame changed since the previous one, and the rectangles
// they merge into. Keeps the previous frame and one byte per tile (row by row); a
// marked tile stays marked until Commit, which follows a successful send.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "session/screen/svt1_writer.h"

namespace sv {

constexpr int32_t kTileSize = 64;

// Merges the set tiles of a columns x rows grid (one byte per tile, nonzero = set,
// row by row) into rectangles of a width x height frame: runs that line up exactly
// grow downwards; rectangles are listed in the order they close.
void MergeDirtyTiles(const std::vector<uint8_t>& dirty, int32_t columns, int32_t rows, int32_t width, int32_t height,
                     std::vector<TileRect>& out);

// Whether `count` set tiles of `total` are sent as one whole-frame rectangle.
bool SendsWholeFrame(size_t count, size_t total);

class TileDiff {
public:
    // Marks the tiles of `current` (w x h, stride w * 4) that differ from the previous
    // frame: every tile for a first frame, a new size or a keyframe.
    void Compare(const uint8_t* current, int32_t w, int32_t h, bool keyframe);
    // The compared frame becomes the previous one: copied (only its marked tiles, the
    // rest are equal) or, for a buffer the caller gives up, swapped in.
    void Keep(const uint8_t* current);
    void Adopt(std::vector<uint8_t>& current);

    // The rectangles to send: the whole frame when most tiles changed, else the merged
    // marked tiles. Empty when nothing is marked.
    void Rects(std::vector<TileRect>& out) const;
    // A rectangle whose JPEG could not be made: its tiles stay marked past the commit.
    void MarkFailed(const TileRect& r);
    // After a successful send: only the tiles marked failed stay marked.
    void Commit();

    const std::vector<uint8_t>& Previous() const { return previous_; }
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    int32_t Columns() const { return columns_; }
    int32_t Rows() const { return rows_; }
    const std::vector<uint8_t>& Dirty() const { return dirty_; }
    size_t DirtyCount() const;

private:
    void ResetGeometry(int32_t w, int32_t h);
    void CompareTiles(const uint8_t* current);
    void Mark(const TileRect& r, std::vector<uint8_t>& bits) const;

    std::vector<uint8_t> previous_;
    std::vector<uint8_t> dirty_;
    std::vector<uint8_t> failed_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t columns_ = 0;
    int32_t rows_ = 0;
};

}  // namespace sv
