#pragma once
// An independent reader of SVT1 frames for the tests: fails the running test on any
// inconsistency in the layout.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace sv_test {

struct Svt1Record {
    int x = 0, y = 0, w = 0, h = 0;
    std::vector<uint8_t> jpeg;
};

struct Svt1Frame {
    bool valid = false;
    uint32_t seq = 0;
    int w = 0;
    int h = 0;
    int flag = -1;
    std::vector<Svt1Record> records;
};

// A stand-in for the whole-frame JPEG encoder whose bytes name what it was given: 'J',
// then width, height, quality and a hash of the pixels (each 32-bit little-endian), so
// tests see which pixels went into a frame without GDI+.
inline std::vector<uint8_t> FakeFrameJpeg(const uint8_t* px, int32_t w, int32_t h, uint32_t q) {
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < static_cast<size_t>(w) * h * 4; ++i) hash = (hash ^ px[i]) * 16777619u;
    std::vector<uint8_t> out = {'J'};
    for (uint32_t v : {static_cast<uint32_t>(w), static_cast<uint32_t>(h), q, hash}) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    return out;
}

inline uint32_t ReadU16Le(const std::vector<uint8_t>& b, size_t o) { return b[o] | (b[o + 1] << 8); }
inline uint32_t ReadU32Le(const std::vector<uint8_t>& b, size_t o) {
    return b[o] | (b[o + 1] << 8) | (b[o + 2] << 16) | (static_cast<uint32_t>(b[o + 3]) << 24);
}

inline bool IsSvt1(const std::vector<uint8_t>& b) { return b.size() >= 4 && std::string(b.begin(), b.begin() + 4) == "SVT1"; }

inline Svt1Frame ParseSvt1(const std::vector<uint8_t>& b) {
    Svt1Frame f;
    EXPECT_GE(b.size(), 15u);
    if (b.size() < 15 || !IsSvt1(b)) {
        ADD_FAILURE() << "not an SVT1 frame";
        return f;
    }
    f.seq = ReadU32Le(b, 4);
    f.w = static_cast<int>(ReadU16Le(b, 8));
    f.h = static_cast<int>(ReadU16Le(b, 10));
    f.flag = b[12];
    size_t n = ReadU16Le(b, 13);
    size_t o = 15;
    for (size_t i = 0; i < n; ++i) {
        if (o + 12 > b.size()) {
            ADD_FAILURE() << "record header past the end";
            return f;
        }
        Svt1Record r;
        r.x = static_cast<int>(ReadU16Le(b, o));
        r.y = static_cast<int>(ReadU16Le(b, o + 2));
        r.w = static_cast<int>(ReadU16Le(b, o + 4));
        r.h = static_cast<int>(ReadU16Le(b, o + 6));
        uint32_t len = ReadU32Le(b, o + 8);
        o += 12;
        if (o + len > b.size()) {
            ADD_FAILURE() << "record bytes past the end";
            return f;
        }
        r.jpeg.assign(b.begin() + static_cast<ptrdiff_t>(o), b.begin() + static_cast<ptrdiff_t>(o + len));
        o += len;
        f.records.push_back(r);
    }
    EXPECT_EQ(o, b.size()) << "trailing bytes";
    f.valid = o == b.size();
    return f;
}

}  // namespace sv_test
