#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "session/screen/frame_scaling.h"
#include "session/screen/stream_rules.h"
#include "session/screen/svt1_writer.h"
#include "session/screen/whole_frame_encoder.h"
#include "session/screen/svt1_reader.h"

namespace {

constexpr int kW = 200;
constexpr int kH = 100;

// A "JPEG" that names its size, quality and every pixel's hash, so equal bytes mean
// equal input; counts its calls and fails on demand.
struct CountingCodec {
    int calls = 0;
    bool fail = false;
    sv::WholeFrameEncoder::Codec Make() {
        return [this](const uint8_t* px, int32_t w, int32_t h, uint32_t q) {
            ++calls;
            if (fail) return std::vector<uint8_t>();
            return sv_test::FakeFrameJpeg(px, w, h, q);
        };
    }
};

std::vector<uint8_t> Frame(uint8_t seed) {
    std::vector<uint8_t> px(static_cast<size_t>(kW) * kH * 4);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * 31 + seed + (i >> 9));
    return px;
}

// The same frame with pixel (x, y) changed.
std::vector<uint8_t> Touched(std::vector<uint8_t> px, int x, int y) {
    px[(static_cast<size_t>(y) * kW + x) * 4 + 1] ^= 0x5A;
    return px;
}

TEST(WholeFrameEncoderTest, SkipsOnlyWhatWouldGiveTheSameBytes) {
    const std::vector<uint8_t> a = Frame(1);
    const std::vector<uint8_t> b = Touched(a, 10, 10);
    // Scaling 200 -> 100 reads the even columns only: a change at an odd column is
    // invisible in the scaled frame.
    const std::vector<uint8_t> hidden = Touched(b, 11, 10);
    struct Step {
        const char* what;
        const std::vector<uint8_t>* frame;
        int32_t maxWidth;
        uint32_t quality;
        bool fail;
        bool encodes;
    };
    const Step steps[] = {
        {"first frame", &a, 0, 60, false, true},
        {"same frame", &a, 0, 60, false, false},
        {"same pixels, other quality", &a, 0, 70, false, true},
        {"one pixel changed", &b, 0, 70, false, true},
        {"same pixels, scaled", &b, 100, 70, false, true},
        {"same scaled frame", &b, 100, 70, false, false},
        {"change the scaling drops", &hidden, 100, 70, false, false},
        {"back to full size", &hidden, 0, 70, false, true},
        {"encoder fails", &a, 0, 70, true, true},
        {"a failure is not remembered", &a, 0, 70, false, true},
        {"and then skipped again", &a, 0, 70, false, false},
    };
    CountingCodec codec;
    const sv::WholeFrameEncoder::Codec encode = codec.Make();
    CountingCodec reference;
    const sv::WholeFrameEncoder::Codec direct = reference.Make();
    sv::WholeFrameEncoder enc;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        codec.fail = s.fail;
        reference.fail = s.fail;
        const int before = codec.calls;
        const std::vector<uint8_t>& jpeg = enc.Encode(encode, s.frame->data(), kW, kH, s.maxWidth, s.quality);
        EXPECT_EQ(codec.calls - before, s.encodes ? 1 : 0);
        EXPECT_EQ(enc.Reused(), !s.encodes);
        int32_t w = 0, h = 0;
        std::vector<uint8_t> scaled = sv::ScaleFrame(s.frame->data(), kW, kH, s.maxWidth, w, h);
        EXPECT_EQ(jpeg, direct(scaled.data(), w, h, s.quality));
    }
}

TEST(WholeFrameEncoderTest, SendsWhatEncodingEveryFrameWouldHaveSentWhenItWould) {
    // Ten seconds at 10 frames a second: still, a change at 4 s, still again; a keyframe
    // wanted at 5 s. Skipping must not move a single send.
    const std::vector<uint8_t> a = Frame(3);
    const std::vector<uint8_t> b = Touched(a, 150, 90);
    CountingCodec codec;
    CountingCodec everyFrame;
    const sv::WholeFrameEncoder::Codec skip = codec.Make();
    const sv::WholeFrameEncoder::Codec plain = everyFrame.Make();
    sv::WholeFrameEncoder enc;
    std::vector<uint8_t> lastSkip, lastPlain;
    int64_t lastSkipNs = -10000 * sv::kNsPerMs, lastPlainNs = lastSkipNs;
    std::vector<int64_t> sentSkip, sentPlain;
    for (int64_t t = 0; t < 10000; t += 100) {
        const int64_t now = t * sv::kNsPerMs;
        const std::vector<uint8_t>& px = t < 4000 ? a : b;
        const bool keyframe = t == 5000;
        const std::vector<uint8_t>& j1 = enc.Encode(skip, px.data(), kW, kH, 120, 60);
        if (sv::ShouldSendWholeFrame(j1, lastSkip, now, lastSkipNs, keyframe)) {
            lastSkip = j1;
            lastSkipNs = now;
            sentSkip.push_back(t);
        }
        int32_t w = 0, h = 0;
        std::vector<uint8_t> scaled = sv::ScaleFrame(px.data(), kW, kH, 120, w, h);
        const std::vector<uint8_t> j2 = plain(scaled.data(), w, h, 60);
        if (sv::ShouldSendWholeFrame(j2, lastPlain, now, lastPlainNs, keyframe)) {
            lastPlain = j2;
            lastPlainNs = now;
            sentPlain.push_back(t);
        }
        ASSERT_EQ(lastSkip, lastPlain) << "at " << t << " ms";
    }
    EXPECT_EQ(sentSkip, sentPlain);
    EXPECT_EQ(sentSkip, (std::vector<int64_t>{0, 3000, 4000, 5000, 8000}));
    EXPECT_EQ(codec.calls, 2);
    EXPECT_EQ(everyFrame.calls, 100);
}

TEST(WholeFrameEncoderTest, SteadyFramesKeepTheirBuffers) {
    // Scaled frames alternate between two buffers and are never reallocated.
    std::vector<uint8_t> px = Frame(5);
    CountingCodec codec;
    const sv::WholeFrameEncoder::Codec encode = codec.Make();
    sv::WholeFrameEncoder enc;
    std::vector<const uint8_t*> seen;
    for (int i = 0; i < 6; ++i) {
        px = Touched(px, (i * 2) % kW, 0);
        // The codec is handed the scaled frame: record which buffer it was.
        const sv::WholeFrameEncoder::Codec spy = [&](const uint8_t* p, int32_t w, int32_t h, uint32_t q) {
            seen.push_back(p);
            return encode(p, w, h, q);
        };
        enc.Encode(spy, px.data(), kW, kH, 100, 60);
    }
    ASSERT_EQ(seen.size(), 6u);
    for (size_t i = 2; i < seen.size(); ++i) EXPECT_EQ(seen[i], seen[i - 2]) << i;
}

}  // namespace
