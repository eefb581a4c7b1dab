#include "training/win32/overlay_layout.h"

#include <algorithm>
#include <cmath>

namespace sv {
namespace training {
namespace {

struct Extent {
    int64_t left, top, right, bottom;
};

bool Overlaps(const Extent& e, const ScreenRect& r) {
    return e.left < r.right && r.left < e.right && e.top < r.bottom && r.top < e.bottom;
}

Extent ShapeExtent(const OverlayShape& s) {
    if (!s.points.empty()) {
        Extent e{s.points[0].first, s.points[0].second, s.points[0].first + 1, s.points[0].second + 1};
        for (const auto& p : s.points) {
            e.left = std::min<int64_t>(e.left, p.first);
            e.top = std::min<int64_t>(e.top, p.second);
            e.right = std::max<int64_t>(e.right, int64_t{p.first} + 1);
            e.bottom = std::max<int64_t>(e.bottom, int64_t{p.second} + 1);
        }
        return e;
    }
    if (s.kind == "arrow") return {s.x, s.y, int64_t{s.x} + 1, int64_t{s.y} + 1};
    int64_t w = s.width < 2 ? 1 : s.width;
    int64_t h = s.height < 2 ? 1 : s.height;
    return {s.x, s.y, s.x + w, s.y + h};
}

}  // namespace

float DpiScale(float n, uint32_t dpi) { return n * static_cast<float>(dpi) / 96.0f; }

int ShapeDrawRank(const OverlayShape& shape) {
    if (shape.kind == "spotlight") return 0;
    if (shape.kind == "step") return 3;
    if (shape.kind == "ghost") return 4;
    return 1;
}

std::vector<size_t> ShapeDrawOrder(const std::vector<OverlayShape>& shapes) {
    std::vector<size_t> order(shapes.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return ShapeDrawRank(shapes[a]) < ShapeDrawRank(shapes[b]); });
    return order;
}

bool ShapeCentreOn(const OverlayShape& shape, const ScreenRect& monitor) {
    return monitor.Contains(int64_t{shape.x} + shape.width / 2, int64_t{shape.y} + shape.height / 2);
}

bool ShapeTouchesMonitor(const OverlayShape& shape, const ScreenRect& monitor) {
    if (shape.kind == "step") return true;  // the card picks its own monitor when drawn
    if (shape.kind == "spotlight") {
        // Dimming belongs on every monitor the hole reaches, not only the centre's.
        Extent hole{int64_t{shape.x} - 8, int64_t{shape.y} - 8, int64_t{shape.x} + shape.width + 8,
                    int64_t{shape.y} + shape.height + 8};
        return ShapeCentreOn(shape, monitor) || Overlaps(hole, monitor);
    }
    return Overlaps(ShapeExtent(shape), monitor);
}

std::optional<MonitorArea> NearestMonitor(const std::vector<MonitorArea>& monitors, int32_t x, int32_t y) {
    std::optional<MonitorArea> best;
    double bestDistance = 0;
    for (const MonitorArea& m : monitors) {
        double dx = x < m.monitor.left ? double(m.monitor.left) - x : (x >= m.monitor.right ? double(x) - (m.monitor.right - 1) : 0);
        double dy = y < m.monitor.top ? double(m.monitor.top) - y : (y >= m.monitor.bottom ? double(y) - (m.monitor.bottom - 1) : 0);
        double d = dx * dx + dy * dy;
        if (!best || d < bestDistance) {
            best = m;
            bestDistance = d;
        }
    }
    return best;
}

std::optional<ArrowGeometry> LayoutArrow(const OverlayShape& shape, int32_t originX, int32_t originY) {
    ArrowGeometry g;
    g.tip = {static_cast<float>(int64_t{shape.x} - originX), static_cast<float>(int64_t{shape.y} - originY)};
    if (shape.fromX && shape.fromY) {
        g.tail = {static_cast<float>(int64_t{*shape.fromX} - originX), static_cast<float>(int64_t{*shape.fromY} - originY)};
    } else {
        g.tail.x = g.tip.x > 200 ? g.tip.x - 150 : g.tip.x + 150;
        g.tail.y = g.tip.y > 160 ? g.tip.y - 110 : g.tip.y + 110;
    }
    float dx = g.tip.x - g.tail.x, dy = g.tip.y - g.tail.y;
    float length = std::sqrt(dx * dx + dy * dy);
    if (!(length >= 1.0f)) return std::nullopt;
    float ux = dx / length, uy = dy / length;
    const float head = 22.0f;
    g.shaftEnd = {g.tip.x - ux * head * 0.6f, g.tip.y - uy * head * 0.6f};
    float px = -uy, py = ux;
    float bx = g.tip.x - ux * head, by = g.tip.y - uy * head;
    g.headLeft = {bx + px * head * 0.7f, by + py * head * 0.7f};
    g.headRight = {bx - px * head * 0.7f, by - py * head * 0.7f};
    return g;
}

RectF HighlightRing(float x, float y, float width, float height) { return {x - 6, y - 6, width + 12, height + 12}; }

PointF RingLabelAnchor(const RectF& ring) {
    if (ring.y > 48) return {ring.x, ring.y - 42};
    return {ring.x, ring.y + ring.height + 8};
}

RectF PlaceLabelBox(PointF at, float textWidth, float textHeight, bool centred, uint32_t dpi, float canvasWidth,
                    float canvasHeight) {
    RectF box;
    box.width = textWidth + 2 * DpiScale(12, dpi);
    box.height = textHeight + 2 * DpiScale(6, dpi);
    box.x = at.x;
    box.y = at.y;
    if (centred) {
        box.x -= box.width / 2;
        box.y -= box.height / 2;
    }
    box.x = std::min(std::max(box.x, 4.0f), std::max(canvasWidth - box.width - 4, 4.0f));
    box.y = std::min(std::max(box.y, 4.0f), std::max(canvasHeight - box.height - 4, 4.0f));
    return box;
}

float RoundRectDiameter(float width, float height, float radius) { return std::min({width, height, 2 * radius}); }

std::optional<Box> CoveredBox(const RectF& canvas, int32_t originX, int32_t originY) {
    if (!(canvas.width > 0) || !(canvas.height > 0)) return std::nullopt;
    auto clamp = [](double v) {
        return static_cast<int32_t>(std::min(std::max(v, -2147483648.0), 2147483647.0));
    };
    Box b;
    b.x = clamp(std::floor(canvas.x) + originX);
    b.y = clamp(std::floor(canvas.y) + originY);
    b.width = clamp(std::ceil(canvas.width));
    b.height = clamp(std::ceil(canvas.height));
    return b;
}

std::string StepCardCaption(std::optional<int32_t> index, std::optional<int32_t> total) {
    if (!index) return "";
    std::string caption = "Langkah " + std::to_string(*index);
    if (total) caption += " dari " + std::to_string(*total);
    return caption;
}

float StepCardTextLimit(float canvasWidth, uint32_t dpi) {
    float maxWidth = std::min(DpiScale(560, dpi), canvasWidth - 40);
    return maxWidth - 2 * DpiScale(22, dpi);
}

StepCardLayout LayoutStepCard(const StepCardTexts& t, const MonitorArea& m, const std::string& position,
                              uint32_t dpi) {
    const float canvasWidth = static_cast<float>(m.monitor.Width());
    const float canvasHeight = static_cast<float>(m.monitor.Height());
    const float maxWidth = std::min(DpiScale(560, dpi), canvasWidth - 40);
    const float pad = DpiScale(22, dpi), top = DpiScale(16, dpi), bottom = DpiScale(18, dpi);
    const float gapCaption = DpiScale(2, dpi), gapDetail = DpiScale(6, dpi);
    StepCardLayout l;
    float widest = std::max({t.captionWidth, t.titleWidth, t.detailWidth});
    l.card.width = std::min(2 * pad + widest + 2, maxWidth);
    l.card.height = t.captionHeight + top + (t.captionHeight > 0 ? gapCaption : 0) + t.titleHeight +
                    (t.detailHeight > 0 ? gapDetail + t.detailHeight : 0) + bottom;
    l.card.x = std::max((canvasWidth - l.card.width) / 2, 8.0f);
    float y;
    if (position == "bottom") {
        y = static_cast<float>(m.work.bottom - m.monitor.top) - l.card.height - DpiScale(24, dpi);
    } else if (position == "middle") {
        y = (canvasHeight - l.card.height) / 2;
    } else {
        y = DpiScale(24, dpi) + static_cast<float>(m.work.top - m.monitor.top);
    }
    l.card.y = std::max(y, 8.0f);
    l.textX = l.card.x + pad;
    l.innerWidth = l.card.width - 2 * pad;
    l.captionY = l.card.y + top;
    l.titleY = t.captionHeight > 0 ? l.captionY + t.captionHeight + gapCaption : l.card.y + top;
    l.detailY = l.titleY + t.titleHeight + gapDetail;
    return l;
}

}  // namespace training
}  // namespace sv
