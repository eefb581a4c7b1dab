#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "session/screen/frame_scaling.h"

namespace {

// Every pixel carries its own coordinates, so a wrong source pixel shows.
std::vector<uint8_t> CoordinateFrame(int w, int h) {
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
            p[0] = static_cast<uint8_t>(x & 0xFF);
            p[1] = static_cast<uint8_t>(x >> 8);
            p[2] = static_cast<uint8_t>(y & 0xFF);
            p[3] = static_cast<uint8_t>(y >> 8);
        }
    }
    return px;
}

TEST(ScaleFrameTest, FullHdTo1280GivesHd) {
    std::vector<uint8_t> px = CoordinateFrame(1920, 1080);
    int32_t ow = 0, oh = 0;
    std::vector<uint8_t> out = sv::ScaleFrame(px.data(), 1920, 1080, 1280, ow, oh);
    EXPECT_EQ(ow, 1280);
    EXPECT_EQ(oh, 720);
    EXPECT_EQ(out.size(), 1280u * 720 * 4);
}

TEST(ScaleFrameTest, NarrowEnoughOrNoLimitComesBackUnchanged) {
    std::vector<uint8_t> px = CoordinateFrame(1920, 1080);
    for (int32_t maxWidth : {1920, 1921, 5000, 0, -3}) {
        int32_t ow = 0, oh = 0;
        std::vector<uint8_t> out = sv::ScaleFrame(px.data(), 1920, 1080, maxWidth, ow, oh);
        EXPECT_EQ(ow, 1920) << maxWidth;
        EXPECT_EQ(oh, 1080) << maxWidth;
        EXPECT_EQ(out, px) << maxWidth;
    }
}

TEST(ScaleFrameTest, HeightNeverDropsBelowOne) {
    std::vector<uint8_t> px = CoordinateFrame(4000, 1);
    int32_t ow = 0, oh = 0;
    std::vector<uint8_t> out = sv::ScaleFrame(px.data(), 4000, 1, 320, ow, oh);
    EXPECT_EQ(ow, 320);
    EXPECT_EQ(oh, 1);
    EXPECT_EQ(out.size(), 320u * 4);
}

TEST(ScaleFrameTest, EveryOutputPixelIsTheNearestSourcePixel) {
    // The scaler steps through source columns without dividing; check it against the
    // plain formula for many size pairs.
    for (int w : {2, 3, 7, 64, 100, 333, 641}) {
        for (int h : {1, 5, 37}) {
            std::vector<uint8_t> px = CoordinateFrame(w, h);
            for (int maxWidth = 1; maxWidth < w; maxWidth += (maxWidth < 20 ? 1 : 17)) {
                int32_t ow = 0, oh = 0;
                std::vector<uint8_t> out = sv::ScaleFrame(px.data(), w, h, maxWidth, ow, oh);
                ASSERT_EQ(ow, maxWidth);
                int64_t expectH = static_cast<int64_t>(maxWidth) * h / w;
                ASSERT_EQ(oh, expectH < 1 ? 1 : expectH);
                for (int y = 0; y < oh; ++y) {
                    for (int x = 0; x < ow; ++x) {
                        int sx = static_cast<int>(static_cast<int64_t>(x) * w / ow);
                        int sy = static_cast<int>(static_cast<int64_t>(y) * h / oh);
                        ASSERT_EQ(0, std::memcmp(&out[(static_cast<size_t>(y) * ow + x) * 4],
                                                 &px[(static_cast<size_t>(sy) * w + sx) * 4], 4))
                            << w << "x" << h << " to " << maxWidth << " at " << x << "," << y;
                    }
                }
            }
        }
    }
}

TEST(ScaleFrameTest, NonPositiveSizesGiveNothing) {
    std::vector<uint8_t> px(64, 1);
    int32_t ow = 7, oh = 7;
    EXPECT_TRUE(sv::ScaleFrame(px.data(), 0, 4, 320, ow, oh).empty());
    EXPECT_EQ(ow, 0);
    EXPECT_EQ(oh, 0);
    EXPECT_TRUE(sv::ScaleFrame(px.data(), 4, -1, 320, ow, oh).empty());
    EXPECT_TRUE(sv::ScaleFrame(nullptr, 4, 4, 320, ow, oh).empty());
}

TEST(ScaleFrameTest, IntoKeepsTheCallersBuffer) {
    std::vector<uint8_t> px = CoordinateFrame(1000, 500);
    std::vector<uint8_t> out;
    int32_t ow = 0, oh = 0;
    sv::ScaleFrameInto(px.data(), 1000, 500, 400, out, ow, oh);
    const uint8_t* first = out.data();
    sv::ScaleFrameInto(px.data(), 1000, 500, 400, out, ow, oh);
    EXPECT_EQ(out.data(), first);
    EXPECT_EQ(out, sv::ScaleFrame(px.data(), 1000, 500, 400, ow, oh));
}

TEST(ScaledFrameSizeTest, MatchesTheScaler) {
    int32_t ow = 0, oh = 0;
    sv::ScaledFrameSize(2560, 1440, 1280, ow, oh);
    EXPECT_EQ(ow, 1280);
    EXPECT_EQ(oh, 720);
    sv::ScaledFrameSize(1366, 768, 1280, ow, oh);
    EXPECT_EQ(ow, 1280);
    EXPECT_EQ(oh, 719);  // 1280 * 768 / 1366 = 719.6, truncated
    EXPECT_TRUE(sv::FrameNeedsScaling(1281, 1280));
    EXPECT_FALSE(sv::FrameNeedsScaling(1280, 1280));
    EXPECT_FALSE(sv::FrameNeedsScaling(5000, 0));
}

TEST(CopyFrameRectTest, CopiesRowsOfTheRectangle) {
    std::vector<uint8_t> px = CoordinateFrame(100, 50);
    std::vector<uint8_t> out;
    ASSERT_TRUE(sv::CopyFrameRect(px.data(), 100, 50, 90, 45, 10, 5, out));
    ASSERT_EQ(out.size(), 10u * 5 * 4);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 10; ++x) {
            const uint8_t* p = &out[(static_cast<size_t>(y) * 10 + x) * 4];
            EXPECT_EQ(p[0], 90 + x);
            EXPECT_EQ(p[2], 45 + y);
        }
    }
}

TEST(CopyFrameRectTest, RefusesRectanglesOutsideTheFrame) {
    std::vector<uint8_t> px = CoordinateFrame(100, 50);
    std::vector<uint8_t> out(16, 1);
    EXPECT_FALSE(sv::CopyFrameRect(px.data(), 100, 50, 91, 0, 10, 5, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(sv::CopyFrameRect(px.data(), 100, 50, 0, 46, 10, 5, out));
    EXPECT_FALSE(sv::CopyFrameRect(px.data(), 100, 50, -1, 0, 10, 5, out));
    EXPECT_FALSE(sv::CopyFrameRect(px.data(), 100, 50, 0, 0, 0, 5, out));
    EXPECT_FALSE(sv::CopyFrameRect(px.data(), 100, 50, 0, 0, 5, 0, out));
    EXPECT_FALSE(sv::CopyFrameRect(px.data(), 100, 50, 0x7FFFFFF0, 0, 0x20, 1, out));
    EXPECT_TRUE(sv::CopyFrameRect(px.data(), 100, 50, 0, 0, 100, 50, out));
    EXPECT_EQ(out, px);
}

}  // namespace
