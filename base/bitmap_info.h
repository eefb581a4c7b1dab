#pragma once
// The header of a 32-bit bitmap whose rows run from the top, as every pixel buffer of
// this program is laid out (captures, layered windows, double buffers): a negative
// height is what makes a DIB top-down.
#include <windows.h>

#include <cstdint>

namespace sv {

BITMAPINFO TopDown32BitInfo(int32_t width, int32_t height);

}  // namespace sv
