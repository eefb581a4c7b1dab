#pragma once
// The screen as bytes: GDI capture of the virtual screen, scaling and GDI+ JPEG.
#include <cstdint>
#include <utility>
#include <vector>

namespace sv {

struct ScreenFrame {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;  // top-down rows of BGRx pixels
};

bool CaptureScreen(ScreenFrame& frame);
std::pair<int32_t, int32_t> GetScreenSize();
bool StartGdiplus();
void StopGdiplus();

}  // namespace sv
