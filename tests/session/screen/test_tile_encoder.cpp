#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "session/screen/frame_scaling.h"
#include "session/screen/tile_encoder.h"

namespace {

using sv::TileRect;

uint32_t Hash(const uint8_t* p, size_t n, uint32_t h = 2166136261u) {
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
    return h;
}

// The hash of the w x h pixels at (x, y) of a frame.
uint32_t RectHash(const uint8_t* px, int fw, int x, int y, int w, int h) {
    uint32_t hash = 2166136261u;
    for (int i = 0; i < h; ++i) hash = Hash(px + (static_cast<size_t>(y + i) * fw + x) * 4, static_cast<size_t>(w) * 4, hash);
    return hash;
}

// A codec whose "JPEG" names what it was given: kind, rectangle, quality and a hash of
// the pixels, so tests see exactly which pixels went into each record.
struct FakeCodec {
    int frameCalls = 0;
    int rectCalls = 0;
    int failFrames = 0;  // the next n whole-frame encodes fail
    int failRects = 0;
    size_t padTo = 0;  // grow every JPEG to this many bytes

    static void Put32(std::vector<uint8_t>& v, uint32_t x) { sv::AppendU32Le(v, x); }

    sv::TileJpegCodec Make() {
        sv::TileJpegCodec c;
        c.frame = [this](const uint8_t* px, int32_t w, int32_t h, int32_t q) {
            ++frameCalls;
            if (failFrames > 0) {
                --failFrames;
                return std::vector<uint8_t>();
            }
            std::vector<uint8_t> out = {'F'};
            Put32(out, 0);
            Put32(out, 0);
            Put32(out, static_cast<uint32_t>(w));
            Put32(out, static_cast<uint32_t>(h));
            Put32(out, static_cast<uint32_t>(q));
            Put32(out, RectHash(px, w, 0, 0, w, h));
            if (out.size() < padTo) out.resize(padTo, 0xAB);
            return out;
        };
        c.rect = [this](const uint8_t* px, int32_t fw, int32_t fh, int32_t x, int32_t y, int32_t w, int32_t h,
                        int32_t q) {
            ++rectCalls;
            if (failRects > 0) {
                --failRects;
                return std::vector<uint8_t>();
            }
            EXPECT_LE(x + w, fw);
            EXPECT_LE(y + h, fh);
            std::vector<uint8_t> out = {'R'};
            Put32(out, static_cast<uint32_t>(x));
            Put32(out, static_cast<uint32_t>(y));
            Put32(out, static_cast<uint32_t>(w));
            Put32(out, static_cast<uint32_t>(h));
            Put32(out, static_cast<uint32_t>(q));
            Put32(out, RectHash(px, fw, x, y, w, h));
            if (out.size() < padTo) out.resize(padTo, 0xAB);
            return out;
        };
        return c;
    }
};

struct Record {
    TileRect rect;
    std::vector<uint8_t> jpeg;
};

struct Svt1 {
    uint32_t seq = 0;
    int w = 0;
    int h = 0;
    int flag = -1;
    std::vector<Record> records;
};

uint32_t U16(const std::vector<uint8_t>& b, size_t o) { return b[o] | (b[o + 1] << 8); }
uint32_t U32(const std::vector<uint8_t>& b, size_t o) {
    return b[o] | (b[o + 1] << 8) | (b[o + 2] << 16) | (static_cast<uint32_t>(b[o + 3]) << 24);
}

// An independent reader of the frame layout; fails the test on any inconsistency.
Svt1 Parse(const std::vector<uint8_t>& b) {
    Svt1 f;
    EXPECT_GE(b.size(), 15u);
    if (b.size() < 15) return f;
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "SVT1");
    f.seq = U32(b, 4);
    f.w = static_cast<int>(U16(b, 8));
    f.h = static_cast<int>(U16(b, 10));
    f.flag = b[12];
    size_t n = U16(b, 13);
    size_t o = 15;
    for (size_t i = 0; i < n; ++i) {
        EXPECT_LE(o + 12, b.size());
        if (o + 12 > b.size()) return f;
        Record r;
        r.rect = {static_cast<int32_t>(U16(b, o)), static_cast<int32_t>(U16(b, o + 2)),
                  static_cast<int32_t>(U16(b, o + 4)), static_cast<int32_t>(U16(b, o + 6))};
        uint32_t len = U32(b, o + 8);
        o += 12;
        EXPECT_LE(o + len, b.size());
        if (o + len > b.size()) return f;
        r.jpeg.assign(b.begin() + o, b.begin() + o + len);
        o += len;
        f.records.push_back(r);
    }
    EXPECT_EQ(o, b.size()) << "trailing bytes";
    return f;
}

std::vector<uint8_t> Frame(int w, int h, uint8_t seed = 7) {
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 9));
    return px;
}

void Touch(std::vector<uint8_t>& px, int w, int x, int y) { px[(static_cast<size_t>(y) * w + x) * 4 + 1] ^= 0x5A; }

// Changes one pixel in the tile (tx, ty).
void TouchTile(std::vector<uint8_t>& px, int w, int h, int tx, int ty) {
    int x = std::min(tx * 64 + 13, w - 1);
    int y = std::min(ty * 64 + 7, h - 1);
    Touch(px, w, x, y);
}

class TileEncoderTest : public ::testing::Test {
protected:
    TileEncoderTest() : enc(codec.Make()) {}
    // Encodes and commits as a successful send would.
    Svt1 Send(const std::vector<uint8_t>& px, int w, int h, uint32_t seq = 1, int maxWidth = 0, bool key = false) {
        sv::EncodeTileFrame(enc, out, px.data(), w, h, maxWidth, seq, key);
        if (out.empty()) return Svt1();
        enc.Commit();
        return Parse(out);
    }
    FakeCodec codec;
    sv::TileEncoder enc;
    std::vector<uint8_t> out;
};

TEST_F(TileEncoderTest, HdGridHasTwentyColumnsAndTwelveRows) {
    std::vector<uint8_t> px = Frame(1280, 720);
    Svt1 f = Send(px, 1280, 720);
    EXPECT_EQ(enc.Columns(), 20);
    EXPECT_EQ(enc.Rows(), 12);
    EXPECT_EQ(enc.DirtyTiles().size(), 240u);
    // The first frame is whole.
    EXPECT_EQ(f.flag, 1);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].rect, (TileRect{0, 0, 1280, 720}));
    EXPECT_EQ(codec.frameCalls, 1);
    EXPECT_EQ(codec.rectCalls, 0);
}

TEST_F(TileEncoderTest, UnchangedFrameGivesNothing) {
    std::vector<uint8_t> px = Frame(1280, 720);
    Send(px, 1280, 720);
    sv::EncodeTileFrame(enc, out, px.data(), 1280, 720, 0, 2, false);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(enc.DirtyCount(), 0u);
}

TEST_F(TileEncoderTest, OnePixelGivesOneTile) {
    std::vector<uint8_t> px = Frame(1280, 720);
    Send(px, 1280, 720);
    Touch(px, 1280, 200, 300);  // tile (3, 4)
    Svt1 f = Send(px, 1280, 720, 2);
    EXPECT_EQ(f.seq, 2u);
    EXPECT_EQ(f.flag, 0);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].rect, (TileRect{192, 256, 64, 64}));
    // The rectangle's pixels are the new frame's.
    std::vector<uint8_t> expected = {'R'};
    for (uint32_t v : {192u, 256u, 64u, 64u, 60u, RectHash(px.data(), 1280, 192, 256, 64, 64)}) sv::AppendU32Le(expected, v);
    EXPECT_EQ(f.records[0].jpeg, expected);
}

TEST_F(TileEncoderTest, EdgeTilesAreCutToTheFrame) {
    // 1000 x 720: last column 1000 - 960 = 40 wide, last row 720 - 704 = 16 high.
    std::vector<uint8_t> px = Frame(1000, 720);
    Send(px, 1000, 720);
    EXPECT_EQ(enc.Columns(), 16);
    EXPECT_EQ(enc.Rows(), 12);
    Touch(px, 1000, 999, 719);
    Svt1 f = Send(px, 1000, 720);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].rect, (TileRect{960, 704, 40, 16}));
    // A change in the last pixel row or column of a tile is found too.
    Touch(px, 1000, 63, 63);
    Touch(px, 1000, 64, 0);
    f = Send(px, 1000, 720);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].rect, (TileRect{0, 0, 128, 64}));
}

TEST_F(TileEncoderTest, MoreThanSixtyPercentIsSentWhole) {
    std::vector<uint8_t> px = Frame(1280, 720);
    Send(px, 1280, 720);
    // 145 of 240 tiles: above 144.
    for (int i = 0; i < 145; ++i) TouchTile(px, 1280, 720, i % 20, i / 20);
    Svt1 f = Send(px, 1280, 720);
    EXPECT_EQ(f.flag, 1);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].rect, (TileRect{0, 0, 1280, 720}));
}

TEST_F(TileEncoderTest, ExactlySixtyPercentIsMerged) {
    std::vector<uint8_t> px = Frame(1280, 720);
    Send(px, 1280, 720);
    // 144 tiles: rows 0-6 whole (140) and columns 0-3 of row 7.
    for (int i = 0; i < 144; ++i) TouchTile(px, 1280, 720, i % 20, i / 20);
    Svt1 f = Send(px, 1280, 720);
    EXPECT_EQ(f.flag, 0);
    ASSERT_EQ(f.records.size(), 2u);
    EXPECT_EQ(f.records[0].rect, (TileRect{0, 0, 1280, 448}));
    EXPECT_EQ(f.records[1].rect, (TileRect{0, 448, 256, 64}));
    EXPECT_TRUE(sv::SendsWholeFrame(145, 240));
    EXPECT_FALSE(sv::SendsWholeFrame(144, 240));
    EXPECT_TRUE(sv::SendsWholeFrame(1, 1));
    EXPECT_TRUE(sv::SendsWholeFrame(2, 3));
    EXPECT_FALSE(sv::SendsWholeFrame(3, 5));
}

std::vector<uint8_t> Grid(int cols, int rows, std::initializer_list<std::pair<int, int>> set) {
    std::vector<uint8_t> g(static_cast<size_t>(cols) * rows, 0);
    for (auto [c, r] : set) g[static_cast<size_t>(r) * cols + c] = 1;
    return g;
}

TEST(MergeTest, AlignedRunsGrowDownwards) {
    std::vector<TileRect> rects;
    sv::MergeDirtyTiles(Grid(20, 12, {{2, 0}, {3, 0}, {4, 0}, {2, 1}, {3, 1}, {4, 1}, {2, 2}, {3, 2}, {4, 2}}), 20, 12,
                        1280, 720, rects);
    EXPECT_EQ(rects, (std::vector<TileRect>{{128, 0, 192, 192}}));
}

TEST(MergeTest, ARunThatGrowsClosesTheRectangleAbove) {
    std::vector<TileRect> rects;
    sv::MergeDirtyTiles(Grid(20, 12, {{2, 0}, {3, 0}, {4, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 1}}), 20, 12, 1280, 720,
                        rects);
    EXPECT_EQ(rects, (std::vector<TileRect>{{128, 0, 192, 64}, {128, 64, 256, 64}}));
}

TEST(MergeTest, RectanglesAreListedAsTheyClose) {
    // Row 0: runs 0-1 and 3-4; row 1: run 0-1 only. The 3-4 rectangle closes first.
    std::vector<TileRect> rects;
    sv::MergeDirtyTiles(Grid(6, 3, {{0, 0}, {1, 0}, {3, 0}, {4, 0}, {0, 1}, {1, 1}}), 6, 3, 380, 150, rects);
    EXPECT_EQ(rects, (std::vector<TileRect>{{192, 0, 128, 64}, {0, 0, 128, 128}}));
}

TEST(MergeTest, BottomAndRightEdgesAreClipped) {
    std::vector<TileRect> rects;
    sv::MergeDirtyTiles(Grid(6, 3, {{5, 1}, {5, 2}, {0, 2}}), 6, 3, 380, 150, rects);
    // Columns 5 is 380 - 320 = 60 wide, row 2 is 150 - 128 = 22 high.
    EXPECT_EQ(rects, (std::vector<TileRect>{{320, 64, 60, 86}, {0, 128, 64, 22}}));
}

TEST(MergeTest, EmptyAndMalformedGridsGiveNothing) {
    std::vector<TileRect> rects = {{1, 1, 1, 1}};
    sv::MergeDirtyTiles(Grid(4, 4, {}), 4, 4, 256, 256, rects);
    EXPECT_TRUE(rects.empty());
    sv::MergeDirtyTiles(std::vector<uint8_t>(3, 1), 4, 4, 256, 256, rects);
    EXPECT_TRUE(rects.empty());
    sv::MergeDirtyTiles(std::vector<uint8_t>(3, 1), 0, 4, 256, 256, rects);
    EXPECT_TRUE(rects.empty());
}

TEST(MergeTest, RectanglesCoverExactlyTheSetTiles) {
    // Pseudo-random grids: every set tile in exactly one rectangle, no clear tile in any.
    uint32_t state = 12345;
    for (int round = 0; round < 200; ++round) {
        const int cols = 1 + round % 13, rows = 1 + (round * 7) % 11;
        std::vector<uint8_t> g(static_cast<size_t>(cols) * rows);
        for (auto& b : g) {
            state = state * 1103515245u + 12345u;
            b = ((state >> 16) % 3) == 0 ? 1 : 0;
        }
        std::vector<TileRect> rects;
        sv::MergeDirtyTiles(g, cols, rows, cols * 64, rows * 64, rects);
        std::vector<int> covered(g.size(), 0);
        for (const TileRect& r : rects) {
            ASSERT_EQ(r.x % 64, 0);
            ASSERT_EQ(r.y % 64, 0);
            for (int ty = r.y / 64; ty < (r.y + r.h) / 64; ++ty)
                for (int tx = r.x / 64; tx < (r.x + r.w) / 64; ++tx) ++covered[static_cast<size_t>(ty) * cols + tx];
        }
        for (size_t i = 0; i < g.size(); ++i) ASSERT_EQ(covered[i], g[i] ? 1 : 0) << "round " << round << " tile " << i;
    }
}

TEST_F(TileEncoderTest, MergedRectanglesComeThroughTheEncoder) {
    std::vector<uint8_t> px = Frame(1280, 720);
    Send(px, 1280, 720);
    for (int c = 2; c <= 4; ++c) TouchTile(px, 1280, 720, c, 0);
    for (int c = 2; c <= 5; ++c) TouchTile(px, 1280, 720, c, 1);
    Svt1 f = Send(px, 1280, 720);
    ASSERT_EQ(f.records.size(), 2u);
    EXPECT_EQ(f.records[0].rect, (TileRect{128, 0, 192, 64}));
    EXPECT_EQ(f.records[1].rect, (TileRect{128, 64, 256, 64}));
    EXPECT_EQ(enc.LastRects().size(), 2u);
}

TEST_F(TileEncoderTest, ByteLayoutIsLittleEndian) {
    codec.padTo = 1000;
    std::vector<uint8_t> px = Frame(300, 200);
    sv::EncodeTileFrame(enc, out, px.data(), 300, 200, 0, 0x01020304u, false);
    ASSERT_EQ(out.size(), 15u + 12u + 1000u);
    const uint8_t header[] = {'S', 'V', 'T', '1', 0x04, 0x03, 0x02, 0x01, 0x2C, 0x01, 0xC8, 0x00, 0x01, 0x01, 0x00};
    EXPECT_EQ(0, std::memcmp(out.data(), header, sizeof(header)));
    const uint8_t record[] = {0, 0, 0, 0, 0x2C, 0x01, 0xC8, 0x00, 0xE8, 0x03, 0x00, 0x00};
    EXPECT_EQ(0, std::memcmp(out.data() + 15, record, sizeof(record)));
    EXPECT_EQ(out[27], 'F');
    EXPECT_GE(out.capacity(), 16384u);
}

TEST(AppendTest, LittleEndianBytes) {
    std::vector<uint8_t> v;
    sv::AppendU32Le(v, 0xA1B2C3D4u);
    sv::AppendU16Le(v, 0xBEEF);
    EXPECT_EQ(v, (std::vector<uint8_t>{0xD4, 0xC3, 0xB2, 0xA1, 0xEF, 0xBE}));
}

TEST_F(TileEncoderTest, KeyframeSizeChangeAndFirstFrameAreWhole) {
    std::vector<uint8_t> px = Frame(640, 480);
    EXPECT_EQ(Send(px, 640, 480).flag, 1);
    Svt1 f = Send(px, 640, 480, 2, 0, true);
    EXPECT_EQ(f.flag, 1);
    ASSERT_EQ(f.records.size(), 1u);
    // A new maxWidth changes the scaled size: whole again, at the new size.
    f = Send(px, 640, 480, 3, 320);
    EXPECT_EQ(f.flag, 1);
    EXPECT_EQ(f.w, 320);
    EXPECT_EQ(f.h, 240);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].rect, (TileRect{0, 0, 320, 240}));
    // The screen itself changing size does the same.
    std::vector<uint8_t> big = Frame(800, 600);
    f = Send(big, 800, 600, 4);
    EXPECT_EQ(f.w, 800);
    EXPECT_EQ(f.flag, 1);
}

TEST_F(TileEncoderTest, ScaledFramesAreComparedAfterScaling) {
    std::vector<uint8_t> px = Frame(2560, 1440);
    Svt1 f = Send(px, 2560, 1440, 1, 1280);
    EXPECT_EQ(f.w, 1280);
    EXPECT_EQ(f.h, 720);
    // The whole-frame record holds the scaled pixels.
    int32_t ow = 0, oh = 0;
    std::vector<uint8_t> scaled = sv::ScaleFrame(px.data(), 2560, 1440, 1280, ow, oh);
    std::vector<uint8_t> expected = {'F'};
    for (uint32_t v : {0u, 0u, 1280u, 720u, 60u, RectHash(scaled.data(), 1280, 0, 0, 1280, 720)}) sv::AppendU32Le(expected, v);
    EXPECT_EQ(f.records[0].jpeg, expected);
    // Source pixel (1000, 500) is output pixel (500, 250): tile (7, 3).
    Touch(px, 2560, 1000, 500);
    f = Send(px, 2560, 1440, 2, 1280);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].rect, (TileRect{448, 192, 64, 64}));
    // A source pixel that the scaler skips changes nothing that is sent.
    Touch(px, 2560, 1001, 501);
    sv::EncodeTileFrame(enc, out, px.data(), 2560, 1440, 1280, 3, false);
    EXPECT_TRUE(out.empty());
}

TEST_F(TileEncoderTest, UnsentTilesGoOutWithTheNextFrame) {
    std::vector<uint8_t> px = Frame(1280, 720);
    Send(px, 1280, 720);
    Touch(px, 1280, 10, 10);
    sv::EncodeTileFrame(enc, out, px.data(), 1280, 720, 0, 2, false);
    ASSERT_FALSE(out.empty());
    // The send failed: no commit. The same frame again still carries the tile...
    Svt1 f = Parse((sv::EncodeTileFrame(enc, out, px.data(), 1280, 720, 0, 2, false), out));
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].rect, (TileRect{0, 0, 64, 64}));
    // ...and a new change is added to it.
    Touch(px, 1280, 1279, 0);
    f = Send(px, 1280, 720, 2);
    ASSERT_EQ(f.records.size(), 2u);
    EXPECT_EQ(f.records[0].rect, (TileRect{0, 0, 64, 64}));
    EXPECT_EQ(f.records[1].rect, (TileRect{1216, 0, 64, 64}));
    sv::EncodeTileFrame(enc, out, px.data(), 1280, 720, 0, 3, false);
    EXPECT_TRUE(out.empty());
}

TEST_F(TileEncoderTest, WholeFrameJpegIsRetriedOnce) {
    std::vector<uint8_t> px = Frame(320, 240);
    codec.failFrames = 1;
    Svt1 f = Send(px, 320, 240);
    EXPECT_EQ(codec.frameCalls, 2);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_FALSE(f.records[0].jpeg.empty());
}

TEST_F(TileEncoderTest, FailedJpegKeepsItsTilesForTheNextFrame) {
    std::vector<uint8_t> px = Frame(320, 240);
    codec.failFrames = 2;
    Svt1 f = Send(px, 320, 240);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_TRUE(f.records[0].jpeg.empty());  // length 0, no bytes
    // Nothing changed, but the tiles never reached the controller.
    f = Send(px, 320, 240, 2);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.flag, 1);
    EXPECT_FALSE(f.records[0].jpeg.empty());

    Touch(px, 320, 100, 100);
    codec.failRects = 2;
    f = Send(px, 320, 240, 3);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].rect, (TileRect{64, 64, 64, 64}));
    EXPECT_TRUE(f.records[0].jpeg.empty());
    f = Send(px, 320, 240, 4);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].rect, (TileRect{64, 64, 64, 64}));
    EXPECT_FALSE(f.records[0].jpeg.empty());
    sv::EncodeTileFrame(enc, out, px.data(), 320, 240, 0, 5, false);
    EXPECT_TRUE(out.empty());
}

TEST_F(TileEncoderTest, QualityReachesTheCodec) {
    enc.SetQuality(33);
    std::vector<uint8_t> px = Frame(64, 64);
    Svt1 f = Send(px, 64, 64);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(U32(f.records[0].jpeg, 17), 33u);
}

TEST_F(TileEncoderTest, FramesSvt1CannotDescribeAreNotSent) {
    std::vector<uint8_t> wide(70000u * 4, 1);
    sv::EncodeTileFrame(enc, out, wide.data(), 70000, 1, 0, 1, false);
    EXPECT_TRUE(out.empty());
    // The same frame shrunk to a describable width goes out.
    sv::EncodeTileFrame(enc, out, wide.data(), 70000, 1, 1280, 1, false);
    EXPECT_FALSE(out.empty());
    sv::EncodeTileFrame(enc, out, nullptr, 64, 64, 0, 1, false);
    EXPECT_TRUE(out.empty());
    sv::EncodeTileFrame(enc, out, wide.data(), 0, 0, 0, 1, false);
    EXPECT_TRUE(out.empty());
}

TEST_F(TileEncoderTest, SteadyFramesReuseBuffers) {
    std::vector<uint8_t> px = Frame(640, 480);
    Send(px, 640, 480, 1, 320);
    Touch(px, 640, 10, 10);
    Send(px, 640, 480, 2, 320);
    const uint8_t* outData = out.data();
    Touch(px, 640, 20, 300);
    Send(px, 640, 480, 3, 320);
    EXPECT_EQ(out.data(), outData);
}

}  // namespace

namespace {

TEST(TileDiffTest, KeptFrameIsTheComparedOneWhateverTheGrid) {
    // Only changed tiles are copied into the kept frame; after every frame it must equal
    // the frame compared, edge tiles of sizes that are no multiple of 64 included.
    for (const auto& size : {std::make_pair(64, 64), std::make_pair(130, 70), std::make_pair(200, 129)}) {
        const int w = size.first, h = size.second;
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4, 7);
        sv::TileDiff diff;
        uint32_t state = 12345;
        for (int frame = 0; frame < 8; ++frame) {
            for (int n = 0; n < 3; ++n) {
                state = state * 1664525u + 1013904223u;
                const size_t pixel = (state >> 8) % (static_cast<size_t>(w) * h);
                px[pixel * 4 + frame % 4] ^= 0xFF;
            }
            diff.Compare(px.data(), w, h, false);
            diff.Keep(px.data());
            ASSERT_EQ(diff.Previous(), px) << "frame " << frame;
            diff.Commit();
        }
    }
}

// One pixel changed at each edge of a tile in turn. Rectangles are encoded from the kept
// frame: a row or column of a changed tile left out of it reaches the viewer stale, and
// every still frame after it compares unequal and sends the tile again.
TEST(TileDiffTest, EveryRowAndColumnOfAChangedTileIsKept) {
    const int w = 200, h = 150;  // 4 x 3 tiles, the last column and row cut short
    const struct {
        int x, y;
    } changes[] = {{70, 64}, {70, 127}, {70, 149}, {64, 10}, {127, 10}, {199, 149}};
    for (const auto& c : changes) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4, 7);
        sv::TileDiff diff;
        diff.Compare(px.data(), w, h, false);
        diff.Keep(px.data());
        diff.Commit();
        px[(static_cast<size_t>(c.y) * w + c.x) * 4 + 1] ^= 0xFF;
        diff.Compare(px.data(), w, h, false);
        EXPECT_EQ(diff.DirtyCount(), 1u);
        diff.Keep(px.data());
        EXPECT_TRUE(diff.Previous() == px);
        diff.Commit();
        diff.Compare(px.data(), w, h, false);
        EXPECT_EQ(diff.DirtyCount(), 0u) << "a still frame";
    }
}

TEST(Svt1WriterTest, RecordLengthIsWrittenAfterTheBytes) {
    std::vector<uint8_t> out;
    sv::BeginSvt1Frame(out, 0x01020304, 300, 200, false, 1);
    const size_t at = sv::BeginSvt1Rect(out, {64, 128, 0x1234, 9});
    out.insert(out.end(), 0x10203, 0xEE);
    ASSERT_TRUE(sv::EndSvt1Rect(out, at));
    const std::vector<uint8_t> head = {'S', 'V', 'T', '1', 4, 3, 2, 1, 0x2C, 1, 0xC8, 0, 0, 1, 0,
                                       64, 0, 128, 0, 0x34, 0x12, 9, 0, 0x03, 0x02, 0x01, 0};
    ASSERT_EQ(out.size(), head.size() + 0x10203);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + head.size()), head);
}

}  // namespace
