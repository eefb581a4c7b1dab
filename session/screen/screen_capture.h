#pragma once
// The screen as bytes: GDI capture of the virtual screen and GDI+ JPEG encoding.
// Failures are results (false, empty bytes); nothing here throws or logs.
#include <cstdint>
#include <utility>
#include <vector>

namespace sv {

struct ScreenFrame {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;  // top-down rows of BGRx pixels, reused from capture to capture
};

// Captures every monitor at once; true when every row was read. Callers serialise
// captures (the Host's frame mutex).
bool CaptureScreen(ScreenFrame& frame, bool serviceMode = false);
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

// JPEG of a whole frame of 32-bit pixels (stride width * 4) at quality 1..100.
std::vector<uint8_t> EncodeJpegFrame(const uint8_t* pixels, int32_t width, int32_t height, uint32_t quality);
// JPEG of the w x h rectangle at (x, y); empty when it does not lie inside the frame.
std::vector<uint8_t> EncodeJpegRect(const uint8_t* pixels, int32_t frameWidth, int32_t frameHeight, int32_t x,
                                    int32_t y, int32_t w, int32_t h, uint32_t quality);

}  // namespace sv
