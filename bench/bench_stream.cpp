// Per-frame costs of the stream path on synthetic 1920 x 1080 frames:
//   make bench     (runs under Wine with a private display)
// Prints the median time of each step over many iterations, the ways that were
// replaced side by side with their replacements, and the large allocations of the
// steady state. Then `make bench` runs the real host (bench/host_run.py).
#include <winsock2.h>
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "base/bitmap_info.h"
#include "session/screen/frame_scaling.h"
#include "session/screen/screen_capture.h"
#include "session/screen/tile_encoder.h"
#include "session/screen/whole_frame_encoder.h"

// Every allocation of this program at or above the threshold is counted, so a steady
// state that allocates in proportion to the frame shows.
namespace {
std::atomic<size_t> g_bigAllocs{0};
std::atomic<size_t> g_largestAlloc{0};
constexpr size_t kBigAlloc = 64 * 1024;
}  // namespace

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t n) {
    if (n >= kBigAlloc) {
        ++g_bigAllocs;
        size_t seen = g_largestAlloc.load();
        while (n > seen && !g_largestAlloc.compare_exchange_weak(seen, n)) {
        }
    }
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

namespace gp = Gdiplus::DllExports;

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

// The way the screen was read before: a new compatible bitmap for every capture,
// copied out with GetDIBits into a buffer the caller keeps.
bool CaptureWithNewBitmap(std::vector<uint8_t>& pixels, int& width, int& height) {
    width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    if (width < 1 || height < 1) return false;
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return false;
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    bool ok = false;
    if (memory != nullptr && bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY)) {
            pixels.resize(static_cast<size_t>(width) * height * 4);
            BITMAPINFO info = sv::TopDown32BitInfo(width, height);
            ok = GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS) == height;
        }
        SelectObject(memory, old);
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
    if (memory != nullptr) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }
double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The way a rectangle was encoded before, one step at a time: copied out of the
// frame, wrapped, a new memory stream, the save, and the bytes read back.
struct RectSteps {
    std::vector<double> copy, wrap, stream, save, read;
};

std::vector<uint8_t> EncodeRectTheOldWay(const uint8_t* px, int fw, int fh, int x, int y, int w, int h, ULONG q,
                                         const CLSID& clsid, RectSteps& t) {
    auto t0 = Clock::now();
    std::vector<uint8_t> buffer;
    sv::CopyFrameRect(px, fw, fh, x, y, w, h, buffer);
    auto t1 = Clock::now();
    Gdiplus::GpBitmap* bitmap = nullptr;
    gp::GdipCreateBitmapFromScan0(w, h, w * 4, PixelFormat32bppARGB, buffer.data(), &bitmap);
    auto t2 = Clock::now();
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    auto t3 = Clock::now();
    Gdiplus::EncoderParameters params;
    params.Count = 1;
    params.Parameter[0].Guid = {0x1d5be4b5, 0xfa4a, 0x452d, {0x9c, 0xdd, 0x5d, 0xb3, 0x51, 0x05, 0xe7, 0xeb}};
    params.Parameter[0].NumberOfValues = 1;
    params.Parameter[0].Type = Gdiplus::EncoderParameterValueTypeLong;
    params.Parameter[0].Value = &q;
    gp::GdipSaveImageToStream(bitmap, stream, &clsid, &params);
    auto t4 = Clock::now();
    std::vector<uint8_t> out;
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    out.resize(static_cast<size_t>(stat.cbSize.QuadPart));
    ULONG read = 0;
    stream->Read(out.data(), static_cast<ULONG>(out.size()), &read);
    out.resize(read);
    stream->Release();
    gp::GdipDisposeImage(bitmap);
    auto t5 = Clock::now();
    t.copy.push_back(Ms(t0, t1));
    t.wrap.push_back(Ms(t1, t2));
    t.stream.push_back(Ms(t2, t3));
    t.save.push_back(Ms(t3, t4));
    t.read.push_back(Ms(t4, t5));
    return out;
}

// Large allocations while `body` runs `n` times after one warm-up run.
void CountAllocations(const char* label, int n, const std::function<void()>& body) {
    body();
    g_bigAllocs = 0;
    g_largestAlloc = 0;
    for (int i = 0; i < n; ++i) body();
    std::printf("  %-44s %3zu allocations >= 64 KiB in %d frames (largest %zu bytes)\n", label,
                g_bigAllocs.load(), n, g_largestAlloc.load());
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

    // ---- capture, both ways, interleaved so both see the same machine
    {
        std::vector<uint8_t> oldPixels;
        int ow = 0, oh = 0;
        sv::ScreenFrame frame;
        std::vector<double> oldMs, newMs;
        bool same = true;
        for (int i = 0; i < 81; ++i) {
            auto t0 = Clock::now();
            bool a1 = CaptureWithNewBitmap(oldPixels, ow, oh);
            auto t1 = Clock::now();
            bool a2 = sv::CaptureScreen(frame);
            auto t2 = Clock::now();
            if (!a1 || !a2) {
                std::printf("capture failed\n");
                break;
            }
            if (i == 0) continue;
            oldMs.push_back(Ms(t0, t1));
            newMs.push_back(Ms(t1, t2));
            same = same && frame.pixels.size() == oldPixels.size() &&
                   std::memcmp(frame.pixels.data(), oldPixels.data(), oldPixels.size()) == 0;
        }
        if (!oldMs.empty()) {
            // Medians, and the best of each, which a busy machine disturbs least.
            const double o = Median(oldMs), n = Median(newMs);
            const double ob = *std::min_element(oldMs.begin(), oldMs.end());
            const double nb = *std::min_element(newMs.begin(), newMs.end());
            std::printf("capture of the %dx%d screen (median, best of %zu):\n", ow, oh, oldMs.size());
            std::printf("  new bitmap + GetDIBits per frame         %8.3f ms, best %8.3f ms\n", o, ob);
            std::printf("  kept DIB section, one BitBlt            %8.3f ms, best %8.3f ms   ratio %.2f (%.0f%% cheaper),"
                        " best %.2f, same bytes: %s\n",
                        n, nb, n / o, 100.0 * (1 - n / o), nb / ob, same ? "yes" : "no");
        }
        sv::ReleaseCaptureSurface(frame);
    }

    if (sv::HaveJpegEncoder()) {
        // ---- whole-frame loop step: scale, JPEG, compare with the last frame sent
        std::vector<uint8_t> b = WithChangedTiles(a, total / 10);
        std::vector<uint8_t> scaledOld, lastSent;
        int32_t sw = 0, sh = 0;
        auto oldStep = [&](const std::vector<uint8_t>& px) {
            sv::ScaleFrameInto(px.data(), kW, kH, 1280, scaledOld, sw, sh);
            std::vector<uint8_t> jpeg = sv::EncodeJpegFrame(scaledOld.data(), sw, sh, 60);
            if (jpeg != lastSent) lastSent = jpeg;
        };
        sv::WholeFrameEncoder whole;
        const sv::WholeFrameEncoder::Codec codec = [](const uint8_t* p, int32_t w, int32_t h, uint32_t q) {
            return sv::EncodeJpegFrame(p, w, h, q);
        };
        auto newStep = [&](const std::vector<uint8_t>& px) {
            const std::vector<uint8_t>& jpeg = whole.Encode(codec, px.data(), kW, kH, 1280, 60);
            if (jpeg != lastSent) lastSent.assign(jpeg.begin(), jpeg.end());
        };
        bool flip = false;
        const double stillOld = MedianMs(15, [&] { oldStep(a); });
        const double stillNew = MedianMs(15, [&] { newStep(a); });
        const double moveOld = MedianMs(15, [&] { flip = !flip; oldStep(flip ? b : a); });
        const double moveNew = MedianMs(15, [&] { flip = !flip; newStep(flip ? b : a); });
        std::printf("whole-frame step (scale to 1280, JPEG, compare), 1920x1080:\n");
        std::printf("  still frame:    encode every time %8.3f ms, skip when unchanged %8.3f ms   ratio %.3f\n",
                    stillOld, stillNew, stillNew / stillOld);
        std::printf("  changing frame: encode every time %8.3f ms, skip when unchanged %8.3f ms   ratio %.3f\n",
                    moveOld, moveNew, moveNew / moveOld);

        // ---- a still screen per tick, capture included: whole-frame mode against tiles mode
        sv::ScreenFrame frame;
        sv::TileEncoder tiles;
        std::vector<uint8_t> tileOut;
        sv::WholeFrameEncoder stillWhole;
        const double wholeTick = MedianMs(30, [&] {
            sv::CaptureScreen(frame);
            stillWhole.Encode(codec, frame.pixels.data(), frame.width, frame.height, 1280, 60);
        });
        tiles.Encode(tileOut, frame.pixels.data(), frame.width, frame.height, 1280, 1, false);
        tiles.Commit();
        const double tileTick = MedianMs(30, [&] {
            sv::CaptureScreen(frame);
            tiles.Encode(tileOut, frame.pixels.data(), frame.width, frame.height, 1280, 2, false);
        });
        std::printf("still screen, one tick with capture: whole-frame %8.3f ms, tiles %8.3f ms   ratio %.2f\n",
                    wholeTick, tileTick, wholeTick / tileTick);

        // ---- one rectangle, the old way step by step against the new way
        CLSID clsid{};
        if (sv::FindJpegEncoder(clsid)) {
            std::printf("one rectangle of the 1920x1080 frame at quality 60 (medians):\n");
            for (const sv::TileRect& r : {sv::TileRect{640, 320, 64, 64}, sv::TileRect{640, 320, 192, 128}}) {
                RectSteps t;
                std::vector<double> total, fresh;
                std::vector<uint8_t> oldJpeg, newJpeg, reused;
                bool same = true;
                for (int i = 0; i < 41; ++i) {
                    auto t0 = Clock::now();
                    oldJpeg = EncodeRectTheOldWay(b.data(), kW, kH, r.x, r.y, r.w, r.h, 60, clsid, t);
                    auto t1 = Clock::now();
                    newJpeg = sv::EncodeJpegRect(b.data(), kW, kH, r.x, r.y, r.w, r.h, 60);
                    auto t2 = Clock::now();
                    reused.clear();
                    sv::AppendJpegRect(b.data(), kW, kH, r.x, r.y, r.w, r.h, 60, reused);
                    total.push_back(Ms(t0, t1));
                    fresh.push_back(Ms(t1, t2));
                    same = same && oldJpeg == newJpeg && reused == newJpeg;
                }
                std::vector<double> appendMs;
                for (int i = 0; i < 41; ++i) {
                    auto t0 = Clock::now();
                    reused.clear();
                    sv::AppendJpegRect(b.data(), kW, kH, r.x, r.y, r.w, r.h, 60, reused);
                    appendMs.push_back(Ms(t0, Clock::now()));
                }
                std::printf("  %dx%d, old way %.3f ms = copy %.3f + wrap %.3f + new stream %.3f + save %.3f + read back %.3f\n",
                            r.w, r.h, Median(total), Median(t.copy), Median(t.wrap), Median(t.stream), Median(t.save),
                            Median(t.read));
                std::printf("  %dx%d, in place into a returned vector %.3f ms, into a kept buffer %.3f ms"
                            "   ratio %.2f, same bytes: %s\n",
                            r.w, r.h, Median(fresh), Median(appendMs), Median(appendMs) / Median(total),
                            same ? "yes" : "no");
            }
        }

        // ---- steady state: large allocations per frame
        std::printf("steady state:\n");
        CountAllocations("capture (kept DIB section)", 20, [&] { sv::CaptureScreen(frame); });
        CountAllocations("whole-frame step, still frame", 20, [&] { newStep(a); });
        CountAllocations("whole-frame step, changing frame", 20, [&] {
            flip = !flip;
            newStep(flip ? b : a);
        });
        std::vector<uint8_t> c = WithChangedTiles(a, total / 100);
        sv::TileEncoder steady;
        uint32_t seq = 1;
        CountAllocations("tile frame, 1% of tiles changing", 20, [&] {
            flip = !flip;
            steady.Encode(tileOut, (flip ? c : a).data(), kW, kH, 0, seq++, false);
            steady.Commit();
        });
        CountAllocations("tile frame, still", 20, [&] {
            steady.Encode(tileOut, a.data(), kW, kH, 0, seq++, false);
            steady.Commit();
        });
        sv::ReleaseCaptureSurface(frame);
    }
    sv::StopGdiplus();
    return 0;
}
