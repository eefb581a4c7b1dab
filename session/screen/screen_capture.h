#pragma once
// The screen as bytes: GDI capture of the virtual screen and GDI+ JPEG encoding.
// Failures are results (false, empty bytes); nothing here throws or logs.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

// CLSID, without <windows.h>: the pure units that include this header build natively too.
struct _GUID;

namespace sv {

// A frame's bytes: either its own buffer or memory a capture lends it (the capture
// surface's bits), read in place with no copy. Copies always own their bytes.
class FramePixels {
public:
    FramePixels() = default;
    FramePixels(const FramePixels& o) : own_(o.data(), o.data() + o.size()) {}
    FramePixels(FramePixels&& o) noexcept { *this = std::move(o); }
    FramePixels& operator=(const FramePixels& o) {
        if (this != &o) *this = std::vector<uint8_t>(o.data(), o.data() + o.size());
        return *this;
    }
    FramePixels& operator=(FramePixels&& o) noexcept {
        if (this != &o) {
            own_ = std::move(o.own_);
            lent_ = o.lent_;
            lentSize_ = o.lentSize_;
            o.own_.clear();
            o.lent_ = nullptr;
            o.lentSize_ = 0;
        }
        return *this;
    }
    FramePixels& operator=(std::vector<uint8_t> bytes) {
        own_ = std::move(bytes);
        lent_ = nullptr;
        lentSize_ = 0;
        return *this;
    }

    uint8_t* data() { return lent_ != nullptr ? lent_ : own_.data(); }
    const uint8_t* data() const { return lent_ != nullptr ? lent_ : own_.data(); }
    size_t size() const { return lent_ != nullptr ? lentSize_ : own_.size(); }
    bool empty() const { return size() == 0; }
    uint8_t& operator[](size_t i) { return data()[i]; }
    const uint8_t& operator[](size_t i) const { return data()[i]; }
    uint8_t* begin() { return data(); }
    uint8_t* end() { return data() + size(); }
    const uint8_t* begin() const { return data(); }
    const uint8_t* end() const { return data() + size(); }

    // Reads `size` bytes at `bytes` in place until the next Lend or assignment; the
    // own buffer is given up so a frame never holds two copies.
    void Lend(uint8_t* bytes, size_t size) {
        std::vector<uint8_t>().swap(own_);
        lent_ = bytes;
        lentSize_ = size;
    }
    void Clear() {
        std::vector<uint8_t>().swap(own_);
        lent_ = nullptr;
        lentSize_ = 0;
    }

private:
    std::vector<uint8_t> own_;
    uint8_t* lent_ = nullptr;
    size_t lentSize_ = 0;
};

// What a capture keeps between frames: device contexts and a DIB section the size of
// the screen (screen_capture.cpp).
struct CaptureSurface;
struct CaptureSurfaceDeleter {
    void operator()(CaptureSurface* surface) const;
};

struct ScreenFrame {
    int32_t width = 0;
    int32_t height = 0;
    FramePixels pixels;  // top-down rows of BGRx pixels, stride width * 4
    // Kept from capture to capture while the screen keeps its size. A copy of a frame
    // owns its pixels and captures through a surface of its own.
    std::unique_ptr<CaptureSurface, CaptureSurfaceDeleter> surface;

    ScreenFrame() = default;
    ScreenFrame(const ScreenFrame& o) : width(o.width), height(o.height), pixels(o.pixels) {}
    ScreenFrame& operator=(const ScreenFrame& o) {
        if (this != &o) {
            width = o.width;
            height = o.height;
            pixels = o.pixels;
        }
        return *this;
    }
    ScreenFrame(ScreenFrame&&) = default;
    ScreenFrame& operator=(ScreenFrame&&) = default;
};

// Captures every monitor at once into the frame's surface; true when the copy
// succeeded. The pixels are the surface's own memory, valid until the next capture
// into the same frame or its release. Callers serialise captures into one frame.
bool CaptureScreen(ScreenFrame& frame, bool serviceMode = false);
// The same for the width x height area of the screen at (left, top).
bool CaptureScreenArea(ScreenFrame& frame, int32_t left, int32_t top, int32_t width, int32_t height);
// Gives back the surface and its device contexts (the pixels go with it).
void ReleaseCaptureSurface(ScreenFrame& frame);
// Which surface the frame captures through: a number no other surface of this process
// had, or 0 when it holds none.
uint64_t CaptureSurfaceSerial(const ScreenFrame& frame);
// Width and height of the virtual screen.
std::pair<int32_t, int32_t> GetScreenSize();

// GDI+ for the process. The entry holds one GdiplusScope for the whole run, so GDI+
// outlives the Host and everything that draws or encodes.
bool StartGdiplus();
void StopGdiplus();
class GdiplusScope {
public:
    GdiplusScope() : started_(StartGdiplus()) {}
    ~GdiplusScope() {
        if (started_) StopGdiplus();
    }
    GdiplusScope(const GdiplusScope&) = delete;
    GdiplusScope& operator=(const GdiplusScope&) = delete;
    bool Started() const { return started_; }

private:
    bool started_;
};
bool HaveJpegEncoder();
// The class id of GDI+'s JPEG encoder; false when GDI+ (started) has none.
bool FindJpegEncoder(_GUID& out);

// JPEG of a whole frame of 32-bit pixels (stride width * 4) at quality 1..100.
std::vector<uint8_t> EncodeJpegFrame(const uint8_t* pixels, int32_t width, int32_t height, uint32_t quality);
// JPEG of the w x h rectangle at (x, y); empty when it does not lie inside the frame.
std::vector<uint8_t> EncodeJpegRect(const uint8_t* pixels, int32_t frameWidth, int32_t frameHeight, int32_t x,
                                    int32_t y, int32_t w, int32_t h, uint32_t quality);
// The same, appended to `out` (whose capacity the caller keeps from frame to frame);
// false, with `out` as it was, on failure.
bool AppendJpegFrame(const uint8_t* pixels, int32_t width, int32_t height, uint32_t quality,
                     std::vector<uint8_t>& out);
bool AppendJpegRect(const uint8_t* pixels, int32_t frameWidth, int32_t frameHeight, int32_t x, int32_t y, int32_t w,
                    int32_t h, uint32_t quality, std::vector<uint8_t>& out);

}  // namespace sv
