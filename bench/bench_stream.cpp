// Per-frame costs of the stream path on synthetic 1920 x 1080 frames:
//   make bench     (runs under Wine with a private display)
// Prints the median time of each step over many iterations.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "session/screen/frame_scaling.h"
#include "session/screen/screen_capture.h"
#include "session/screen/tile_encoder.h"

namespace {

constexpr int kW = 1920;
constexpr int kH = 1080;

double MedianMs(int iterations, const std::function<void()>& body) {
    std::vector<double> times;
    times.reserve(iterations);
    body();  // warm caches and buffers
    for (int i = 0; i < iterations; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        body();
        auto t1 = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Something like a desktop: gradients, flat panels and dense "text" rows, so the
// JPEG encoder has realistic work.
std::vector<uint8_t> SyntheticDesktop() {
    std::vector<uint8_t> px(static_cast<size_t>(kW) * kH * 4);
    uint32_t state = 2463534242u;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            uint8_t* p = &px[(static_cast<size_t>(y) * kW + x) * 4];
            bool panel = (x / 480 + y / 270) % 2 == 0;
            bool text = (y % 18) < 12 && (x % 400) < 360 && panel;
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            if (text && (state & 3) == 0) {
                p[0] = p[1] = p[2] = 20;
            } else if (panel) {
                p[0] = 240;
                p[1] = 240;
                p[2] = 236;
            } else {
                p[0] = static_cast<uint8_t>(x * 255 / kW);
                p[1] = static_cast<uint8_t>(y * 255 / kH);
                p[2] = 128;
            }
            p[3] = 0;
        }
    }
    return px;
}

// The frame with `count` tiles changed, spread over the grid in a fixed pseudo-random order.
std::vector<uint8_t> WithChangedTiles(const std::vector<uint8_t>& base, int count) {
    const int cols = (kW + 63) / 64, rows = (kH + 63) / 64;
    std::vector<int> order(static_cast<size_t>(cols) * rows);
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    uint32_t s = 99;
    for (size_t i = order.size() - 1; i > 0; --i) {
        s = s * 1664525u + 1013904223u;
        std::swap(order[i], order[s % (i + 1)]);
    }
    std::vector<uint8_t> out = base;
    for (int i = 0; i < count; ++i) {
        int tx = order[i] % cols, ty = order[i] / cols;
        // A small changed patch at the bottom of the tile, as a caret or a text line would be.
        for (int y = std::min(ty * 64 + 50, kH - 1); y < std::min(ty * 64 + 60, kH); ++y) {
            for (int x = tx * 64 + 4; x < std::min(tx * 64 + 40, kW); ++x) {
                out[(static_cast<size_t>(y) * kW + x) * 4 + 1] ^= 0xFF;
            }
        }
    }
    return out;
}

sv::TileJpegCodec StubCodec() {
    sv::TileJpegCodec c;
    c.frame = [](const uint8_t*, int32_t, int32_t, int32_t) { return std::vector<uint8_t>(64, 1); };
    c.rect = [](const uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {
        return std::vector<uint8_t>(64, 1);
    };
    return c;
}

void TileRun(const char* label, const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int changed,
             bool realJpeg, int iterations) {
    sv::TileEncoder enc = realJpeg ? sv::TileEncoder() : sv::TileEncoder(StubCodec());
    std::vector<uint8_t> out;
    uint32_t seq = 1;
    enc.Encode(out, a.data(), kW, kH, 0, seq++, false);
    enc.Commit();
    bool flip = false;
    size_t bytes = 0, rects = 0;
    double ms = MedianMs(iterations, [&] {
        flip = !flip;
        enc.Encode(out, (flip ? b : a).data(), kW, kH, 0, seq++, false);
        enc.Commit();
        bytes = out.size();
        rects = enc.LastRects().size();
    });
    std::printf("  %-34s %4d tiles -> %3zu rects, %8zu bytes: %8.3f ms\n", label, changed, rects, bytes, ms);
}

}  // namespace

int main() {
    sv::StartGdiplus();
    const std::vector<uint8_t> a = SyntheticDesktop();
    const std::vector<uint8_t> copy = a;
    const int total = ((kW + 63) / 64) * ((kH + 63) / 64);
    std::printf("bench_stream: synthetic %dx%d frames, %d tiles of 64x64, median of many runs\n", kW, kH, total);

    volatile int sink = 0;
    double memcmpMs = MedianMs(200, [&] { sink = sink + std::memcmp(a.data(), copy.data(), a.size()); });
    sv::TileEncoder enc(StubCodec());
    std::vector<uint8_t> out;
    enc.Encode(out, a.data(), kW, kH, 0, 1, false);
    enc.Commit();
    double diffMs = MedianMs(200, [&] {
        enc.Encode(out, copy.data(), kW, kH, 0, 2, false);
        sink = sink + static_cast<int>(out.size());
    });
    std::printf("unchanged frame:\n  memcmp of the frame bytes           %8.3f ms\n", memcmpMs);
    std::printf("  tile diff (no output)               %8.3f ms   ratio %.2f\n", diffMs, diffMs / memcmpMs);

    std::printf("diff + merge + SVT1 packing, stub JPEG (our own cost):\n");
    for (int pct : {1, 10, 60}) {
        int changed = total * pct / 100;
        std::vector<uint8_t> b = WithChangedTiles(a, changed);
        char label[64];
        std::snprintf(label, sizeof(label), "%d%% of tiles changed", pct);
        TileRun(label, a, b, changed, false, 100);
    }
    if (sv::HaveJpegEncoder()) {
        std::printf("diff + merge + SVT1 packing, GDI+ JPEG at quality 60 (whole step):\n");
        for (int pct : {1, 10, 60}) {
            int changed = total * pct / 100;
            std::vector<uint8_t> b = WithChangedTiles(a, changed);
            char label[64];
            std::snprintf(label, sizeof(label), "%d%% of tiles changed", pct);
            TileRun(label, a, b, changed, true, pct == 60 ? 10 : 30);
        }
        std::vector<uint8_t> scaled;
        int32_t ow = 0, oh = 0;
        double scaleMs = MedianMs(50, [&] { sv::ScaleFrameInto(a.data(), kW, kH, 1280, scaled, ow, oh); });
        std::vector<uint8_t> jpeg;
        double jpegMs = MedianMs(20, [&] { jpeg = sv::EncodeJpegFrame(scaled.data(), ow, oh, 60); });
        std::vector<uint8_t> fullJpeg;
        double fullMs = MedianMs(10, [&] { fullJpeg = sv::EncodeJpegFrame(a.data(), kW, kH, 60); });
        std::printf("whole frame:\n  scale 1920x1080 -> %dx%d            %8.3f ms\n", ow, oh, scaleMs);
        std::printf("  JPEG %dx%d at quality 60        %8.3f ms, %zu bytes\n", ow, oh, jpegMs, jpeg.size());
        std::printf("  JPEG 1920x1080 at quality 60        %8.3f ms, %zu bytes\n", fullMs, fullJpeg.size());
    } else {
        std::printf("no GDI+ JPEG encoder: JPEG figures skipped\n");
    }
    sv::StopGdiplus();
    return 0;
}
