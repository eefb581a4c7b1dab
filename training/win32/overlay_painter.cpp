#include "training/win32/overlay_painter.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <string>

#include "base/text_encoding.h"
#include "training/win32/gdiplus_handles.h"
#include "base/ui_theme.h"
#include "training/win32/overlay_color.h"

namespace sv {
namespace training {
namespace {

namespace gp = Gdiplus::DllExports;
using namespace gdiplus_handles;
using Gdiplus::GpBrush;
using Gdiplus::GpGraphics;
using Gdiplus::GpPath;
using Gdiplus::GpPen;

void AddRoundRect(GpPath* path, const RectF& r, float radius) {
    gdiplus_handles::AddRoundRect(path, r.x, r.y, r.width, r.height, radius);
}

void FillRoundRect(GpGraphics* g, const RectF& r, float radius, uint32_t argb) {
    Path path;
    Brush brush(argb);
    if (!path.p || !brush.p) return;
    AddRoundRect(path.p, r, radius);
    gp::GdipFillPath(g, brush.p, path.p);
}

struct Painter {
    GpGraphics* g;
    const OverlayCanvas& canvas;
    std::vector<Box>& covered;
    float width;
    float height;

    float S(float n) const { return DpiScale(n, canvas.dpi); }
    float X(int64_t desktopX) const { return static_cast<float>(desktopX - canvas.monitor.monitor.left); }
    float Y(int64_t desktopY) const { return static_cast<float>(desktopY - canvas.monitor.monitor.top); }

    void Cover(const RectF& r) {
        if (auto box = CoveredBox(r, canvas.monitor.monitor.left, canvas.monitor.monitor.top)) covered.push_back(*box);
    }

    // The measured size of a text; 0 × 0 when it is empty or there is no font.
    PointF Measure(const std::wstring& text, Gdiplus::GpFont* font, float layoutWidth, Gdiplus::GpStringFormat* fmt) {
        if (text.empty() || font == nullptr) return {0, 0};
        Gdiplus::RectF layout(0, 0, layoutWidth, 10000), bounds;
        if (gp::GdipMeasureString(g, text.c_str(), -1, font, &layout, fmt, &bounds, nullptr, nullptr) != Gdiplus::Ok) {
            return {0, 0};
        }
        return {bounds.Width, bounds.Height};
    }

    void Text(const std::wstring& text, Gdiplus::GpFont* font, const RectF& r, uint32_t argb,
              Gdiplus::GpStringFormat* fmt) {
        if (text.empty() || font == nullptr) return;
        Brush brush(argb);
        Gdiplus::RectF box(r.x, r.y, r.width, r.height);
        if (brush.p) gp::GdipDrawString(g, text.c_str(), -1, font, &box, fmt, brush.p);
    }

    void Label(const std::string& utf8, PointF at, uint32_t argb, bool centred) {
        if (utf8.empty()) return;
        std::wstring text = Utf8ToUtf16(utf8);
        UiFont font = CreateUiFont(UiFontWeight::SemiBold, S(17));
        Format fmt;
        PointF size = Measure(text, font.get(), S(420), fmt.p);
        RectF box = PlaceLabelBox(at, size.x, size.y, centred, canvas.dpi, width, height);
        FillRoundRect(g, {box.x + 1, box.y + 2, box.width, box.height}, S(10), 0x3C000000);
        FillRoundRect(g, box, S(10), WithAlpha(argb, 0xFF));
        Text(text, font.get(), {box.x + S(12), box.y + S(6), size.x + 2, size.y + 2}, 0xFFFFFFFF, fmt.p);
        Cover(box);
    }

    void Highlight(const OverlayShape& s, uint32_t color) {
        RectF ring = HighlightRing(X(s.x), Y(s.y), static_cast<float>(s.width), static_cast<float>(s.height));
        Path path;
        if (!path.p) return;
        AddRoundRect(path.p, ring, 8);
        float sw = std::max(static_cast<float>(s.strokeWidth), 3.0f);
        for (float extra : {18.0f, 12.0f, 6.0f}) {
            Pen glow(WithAlpha(color, 0x24), sw + extra, false);
            if (glow.p) gp::GdipDrawPath(g, glow.p, path.p);
        }
        Brush fill(WithAlpha(color, 0x22));
        if (fill.p) gp::GdipFillPath(g, fill.p, path.p);
        Pen outline(color, sw, false);
        if (outline.p) gp::GdipDrawPath(g, outline.p, path.p);
        Cover(ring);
        Label(s.label, RingLabelAnchor(ring), color, false);
    }

    void Spotlight(const OverlayShape& s, uint32_t color) {
        RectF hole{X(s.x) - 8, Y(s.y) - 8, static_cast<float>(s.width) + 16, static_cast<float>(s.height) + 16};
        Path path;
        Brush dim(0x99000000);
        Gdiplus::GpRegion* region = nullptr;
        Gdiplus::RectF whole(0, 0, width, height);
        if (path.p && dim.p && gp::GdipCreateRegionRect(&whole, &region) == Gdiplus::Ok) {
            AddRoundRect(path.p, hole, 10);
            gp::GdipCombineRegionPath(region, path.p, Gdiplus::CombineModeExclude);
            gp::GdipFillRegion(g, dim.p, region);
            gp::GdipDeleteRegion(region);
        }
        // The ring and its label once, on the monitor of the centre; dimming everywhere.
        if (ShapeCentreOn(s, canvas.monitor.monitor)) {
            OverlayShape ring = s;
            ring.kind = "highlight";
            Highlight(ring, color);
        }
    }

    void Arrow(const OverlayShape& s, uint32_t color) {
        auto a = LayoutArrow(s, canvas.monitor.monitor.left, canvas.monitor.monitor.top);
        if (!a) return;
        Pen under(0xFFFFFFFF, 12, false);
        Pen shaft(color, 7, false);
        for (Pen* pen : {&under, &shaft}) {
            if (!pen->p) continue;
            gp::GdipSetPenStartCap(pen->p, Gdiplus::LineCapRound);
            gp::GdipDrawLine(g, pen->p, a->tail.x, a->tail.y, a->shaftEnd.x, a->shaftEnd.y);
        }
        Gdiplus::PointF head[3] = {{a->tip.x, a->tip.y}, {a->headLeft.x, a->headLeft.y}, {a->headRight.x, a->headRight.y}};
        Brush fill(color);
        if (fill.p) gp::GdipFillPolygon(g, fill.p, head, 3, Gdiplus::FillModeAlternate);
        Pen edge(0xFFFFFFFF, 2.5f, false);
        if (edge.p) gp::GdipDrawPolygon(g, edge.p, head, 3);
        Cover({std::min(a->tail.x, a->tip.x), std::min(a->tail.y, a->tip.y), std::abs(a->tip.x - a->tail.x),
               std::abs(a->tip.y - a->tail.y)});
        Label(s.label, a->tail, color, true);
    }

    void Stroke(const OverlayShape& s, uint32_t color) {
        if (s.points.size() < 2) return;
        std::vector<Gdiplus::PointF> pts;
        pts.reserve(s.points.size());
        for (const auto& p : s.points) pts.emplace_back(X(p.first), Y(p.second));
        Pen pen(color, static_cast<float>(s.strokeWidth), true);
        if (pen.p) gp::GdipDrawLines(g, pen.p, pts.data(), static_cast<INT>(pts.size()));
    }

    void Ellipse(const OverlayShape& s, uint32_t color) {
        RectF e{X(s.x) - 4, Y(s.y) - 4, static_cast<float>(s.width) + 8, static_cast<float>(s.height) + 8};
        Pen pen(color, static_cast<float>(s.strokeWidth), false);
        if (pen.p) gp::GdipDrawEllipse(g, pen.p, e.x, e.y, e.width, e.height);
        Cover(e);
        Label(s.label, RingLabelAnchor(e), color, false);
    }

    void Step(const OverlayShape& s) {
        MonitorArea home = canvas.bannerMonitor;
        if (s.hasPoint) {
            if (auto m = NearestMonitor(canvas.monitors, s.x, s.y)) home = *m;
        }
        if (!(home.monitor == canvas.monitor.monitor)) return;
        std::wstring caption = Utf8ToUtf16(StepCardCaption(s.index, s.total));
        std::wstring title = Utf8ToUtf16(s.label);
        std::wstring detail = Utf8ToUtf16(s.detail);
        UiFont captionFont = CreateUiFont(UiFontWeight::SemiBold, S(14));
        UiFont titleFont = CreateUiFont(UiFontWeight::SemiBold, S(24));
        UiFont detailFont = CreateUiFont(UiFontWeight::Regular, S(17));
        Format fmt;
        const float limit = StepCardTextLimit(width, canvas.dpi);
        StepCardTexts t;
        PointF c = Measure(caption, captionFont.get(), limit, fmt.p);
        PointF ti = Measure(title, titleFont.get(), limit, fmt.p);
        PointF d = Measure(detail, detailFont.get(), limit, fmt.p);
        t.captionWidth = c.x, t.captionHeight = c.y;
        t.titleWidth = ti.x, t.titleHeight = ti.y;
        t.detailWidth = d.x, t.detailHeight = d.y;
        StepCardLayout l = LayoutStepCard(t, canvas.monitor, s.position, canvas.dpi);
        for (float k : {8.0f, 6.0f, 4.0f, 2.0f}) {
            FillRoundRect(g, {l.card.x - k + 2, l.card.y - k + 6, l.card.width + 2 * k, l.card.height + 2 * k},
                          S(14) + k, 0x0E000000);
        }
        Path card;
        if (card.p) {
            AddRoundRect(card.p, l.card, S(14));
            Brush surface(canvas.colors.surface);
            if (surface.p) gp::GdipFillPath(g, surface.p, card.p);
            gp::GdipSetClipPath(g, card.p, Gdiplus::CombineModeReplace);
            Brush accent(canvas.colors.accent);
            if (accent.p) gp::GdipFillRectangle(g, accent.p, l.card.x, l.card.y, S(4), l.card.height);
            gp::GdipResetClip(g);
        }
        if (t.captionHeight > 0) {
            Text(caption, captionFont.get(), {l.textX, l.captionY, l.innerWidth, t.captionHeight + 2},
                 canvas.colors.accent, fmt.p);
        }
        Text(title, titleFont.get(), {l.textX, l.titleY, l.innerWidth, t.titleHeight + 2}, canvas.colors.text, fmt.p);
        if (t.detailHeight > 0) {
            Text(detail, detailFont.get(), {l.textX, l.detailY, l.innerWidth, t.detailHeight + 2},
                 canvas.colors.secondary, fmt.p);
        }
        Cover(l.card);
    }

    void Ghost(const OverlayShape& s) {
        PointF p{X(s.x), Y(s.y)};
        Brush disc(0x332563EB);
        if (disc.p) gp::GdipFillEllipse(g, disc.p, p.x - 22, p.y - 22, 44, 44);
        Pen ring(kOverlayBlue, 4, false);
        if (ring.p) gp::GdipDrawEllipse(g, ring.p, p.x - 22, p.y - 22, 44, 44);
        Brush dot(kOverlayBlue);
        if (dot.p) gp::GdipFillEllipse(g, dot.p, p.x - 5, p.y - 5, 10, 10);
        Label(s.label.empty() ? std::string("AI akan klik di sini") : s.label, {p.x + 28, p.y + 18}, kOverlayBlue,
              false);
    }

    void Draw(const OverlayShape& s) {
        const uint32_t color = ParseOverlayColor(s.color, DefaultOverlayColor(s.kind));
        if (s.kind == "highlight") {
            Highlight(s, color);
        } else if (s.kind == "spotlight") {
            Spotlight(s, color);
        } else if (s.kind == "arrow") {
            Arrow(s, color);
        } else if (s.kind == "stroke") {
            Stroke(s, color);
        } else if (s.kind == "ellipse") {
            Ellipse(s, color);
        } else if (s.kind == "text") {
            Label(s.label, {X(s.x), Y(s.y)}, color, false);
        } else if (s.kind == "step") {
            Step(s);
        } else if (s.kind == "ghost") {
            Ghost(s);
        }
    }
};

}  // namespace

void PaintOverlayShapes(uint8_t* pixels, const OverlayCanvas& canvas, const std::vector<const OverlayShape*>& shapes,
                        std::vector<Box>& covered) {
    const int32_t width = canvas.monitor.monitor.Width();
    const int32_t height = canvas.monitor.monitor.Height();
    if (pixels == nullptr || width <= 0 || height <= 0) return;
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (gp::GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppPARGB, pixels, &bitmap) !=
        Gdiplus::Ok) {
        return;
    }
    GpGraphics* g = nullptr;
    if (gp::GdipGetImageGraphicsContext(bitmap, &g) == Gdiplus::Ok) {
        gp::GdipSetSmoothingMode(g, Gdiplus::SmoothingModeAntiAlias);
        gp::GdipSetTextRenderingHint(g, Gdiplus::TextRenderingHintAntiAlias);
        gp::GdipGraphicsClear(g, 0x00000000);
        Painter painter{g, canvas, covered, static_cast<float>(width), static_cast<float>(height)};
        for (const OverlayShape* shape : shapes) {
            try {
                if (shape) painter.Draw(*shape);
            } catch (...) {
                // One shape that cannot be drawn leaves the others on screen.
            }
        }
        gp::GdipDeleteGraphics(g);
    }
    gp::GdipDisposeImage(bitmap);
}

}  // namespace training
}  // namespace sv
