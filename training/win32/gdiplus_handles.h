#pragma once
// Small owners for GDI+'s flat handles, so that an early return frees them; shared by
// everything on the training side that draws.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdint>

#include "base/bitmap_info.h"
#include "training/win32/overlay_layout.h"

namespace sv {
namespace training {
namespace gdiplus_handles {

namespace gp = Gdiplus::DllExports;

struct Path {
    Gdiplus::GpPath* p = nullptr;
    Path() { gp::GdipCreatePath(Gdiplus::FillModeAlternate, &p); }
    ~Path() {
        if (p) gp::GdipDeletePath(p);
    }
    Path(const Path&) = delete;
    Path& operator=(const Path&) = delete;
};

struct Pen {
    Gdiplus::GpPen* p = nullptr;
    Pen(uint32_t argb, float width, bool roundCaps) {
        gp::GdipCreatePen1(argb, width, Gdiplus::UnitPixel, &p);
        if (p) {
            gp::GdipSetPenLineJoin(p, Gdiplus::LineJoinRound);
            if (roundCaps) {
                gp::GdipSetPenStartCap(p, Gdiplus::LineCapRound);
                gp::GdipSetPenEndCap(p, Gdiplus::LineCapRound);
            }
        }
    }
    ~Pen() {
        if (p) gp::GdipDeletePen(p);
    }
    Pen(const Pen&) = delete;
    Pen& operator=(const Pen&) = delete;
};

struct Brush {
    Gdiplus::GpSolidFill* p = nullptr;
    explicit Brush(uint32_t argb) { gp::GdipCreateSolidFill(argb, &p); }
    ~Brush() {
        if (p) gp::GdipDeleteBrush(p);
    }
    Brush(const Brush&) = delete;
    Brush& operator=(const Brush&) = delete;
};

struct Format {
    Gdiplus::GpStringFormat* p = nullptr;
    explicit Format(INT flags = 0) { gp::GdipCreateStringFormat(flags, LANG_NEUTRAL, &p); }
    Format(INT flags, Gdiplus::StringTrimming trimming) : Format(flags) {
        if (p) gp::GdipSetStringFormatTrimming(p, trimming);
    }
    ~Format() {
        if (p) gp::GdipDeleteStringFormat(p);
    }
    Format(const Format&) = delete;
    Format& operator=(const Format&) = delete;
};

// A rounded rectangle as a closed figure of `path`; a plain rectangle when the corners
// would be a pixel or less.
inline void AddRoundRect(Gdiplus::GpPath* path, float x, float y, float width, float height, float radius) {
    const float d = RoundRectDiameter(width, height, radius);
    if (d <= 1) {
        gp::GdipAddPathRectangle(path, x, y, width, height);
        return;
    }
    gp::GdipAddPathArc(path, x, y, d, d, 180, 90);
    gp::GdipAddPathArc(path, x + width - d, y, d, d, 270, 90);
    gp::GdipAddPathArc(path, x + width - d, y + height - d, d, d, 0, 90);
    gp::GdipAddPathArc(path, x, y + height - d, d, d, 90, 90);
    gp::GdipClosePathFigure(path);
}

// `argb` with its alpha replaced.
inline uint32_t WithAlpha(uint32_t argb, uint32_t alpha) { return (alpha << 24) | (argb & 0x00FFFFFF); }

}  // namespace gdiplus_handles
}  // namespace training
}  // namespace sv
