#pragma once
// Paints overlay shapes with GDI+ into one monitor's 32-bit premultiplied-alpha canvas,
// and tells which desktop rectangles they cover (so the banner can keep out of the way).
#include <cstdint>
#include <vector>

#include "training/training_records.h"
#include "training/win32/overlay_layout.h"

namespace sv {
namespace training {

// The step card's colours: the banner's surface, text, secondary text and accent.
struct StepCardColors {
    uint32_t surface = 0xFFFFFFFF;
    uint32_t text = 0xFF1A1A2E;
    uint32_t secondary = 0xFF6B7280;
    uint32_t accent = 0xFF2563EB;
};

struct OverlayCanvas {
    MonitorArea monitor;              // the window's monitor; the canvas is its size
    std::vector<MonitorArea> monitors;  // every monitor, for point-anchored step cards
    MonitorArea bannerMonitor;        // where a step card without a point goes
    uint32_t dpi = 96;
    StepCardColors colors;
};

// `pixels` holds width × height top-down premultiplied ARGB pixels of the monitor. The
// shapes are drawn in the given order; one that fails to draw is skipped. Covered
// rectangles are appended to `covered` in desktop pixels.
void PaintOverlayShapes(uint8_t* pixels, const OverlayCanvas& canvas, const std::vector<const OverlayShape*>& shapes,
                        std::vector<Box>& covered);

}  // namespace training
}  // namespace sv
