#pragma once
// Where overlay shapes go: which monitor's window paints a shape, in which order, and
// the geometry of arrows, label pills, rings and step cards. Shapes are in desktop
// pixels; a window's canvas has (0, 0) at its monitor's top-left corner.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "training/training_records.h"

namespace sv {
namespace training {

struct ScreenRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool Contains(int64_t x, int64_t y) const { return left <= x && x < right && top <= y && y < bottom; }
};
inline bool operator==(const ScreenRect& a, const ScreenRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// One display.
struct MonitorArea {
    ScreenRect monitor;
    ScreenRect work;
    bool primary = false;
};

struct PointF {
    float x = 0;
    float y = 0;
};
struct RectF {
    float x = 0;
    float y = 0;
    float width = 0;
    float height = 0;
};

// n logical pixels at `dpi`.
float DpiScale(float n, uint32_t dpi);

// Drawing order: dimming first, step cards and the click marker last.
int ShapeDrawRank(const OverlayShape& shape);

// Indices of `shapes` sorted stably by draw rank.
std::vector<size_t> ShapeDrawOrder(const std::vector<OverlayShape>& shapes);

// Whether the window of `monitor` paints the shape. A spotlight is painted on every
// monitor its hole touches (for the dimming); its ring only on its centre's monitor.
bool ShapeTouchesMonitor(const OverlayShape& shape, const ScreenRect& monitor);
// Whether the monitor holds the shape's centre (integer halves toward zero).
bool ShapeCentreOn(const OverlayShape& shape, const ScreenRect& monitor);

// The monitor holding the point, else the one nearest to it (the first on a tie); none
// for an empty list.
std::optional<MonitorArea> NearestMonitor(const std::vector<MonitorArea>& monitors, int32_t x, int32_t y);

// An arrow in canvas pixels; none when its tail and tip are less than a pixel apart.
struct ArrowGeometry {
    PointF tail;
    PointF shaftEnd;
    PointF tip;
    PointF headLeft;
    PointF headRight;
};
std::optional<ArrowGeometry> LayoutArrow(const OverlayShape& shape, int32_t originX, int32_t originY);

// The ring drawn 6 pixels outside a highlighted rectangle (canvas pixels), and where its
// label goes: above the ring when there is room, else below it.
RectF HighlightRing(float x, float y, float width, float height);
PointF RingLabelAnchor(const RectF& ring);

// The label pill for a measured text: padded by s(12) × s(6), placed at the point (or
// centred on it) and kept 4 pixels inside the canvas.
RectF PlaceLabelBox(PointF at, float textWidth, float textHeight, bool centred, uint32_t dpi, float canvasWidth,
                    float canvasHeight);

// The arc diameter of a rounded rectangle; 0 or 1 means square corners.
float RoundRectDiameter(float width, float height, float radius);

// A canvas rectangle as the desktop rectangle it covers; none when it is empty.
std::optional<Box> CoveredBox(const RectF& canvas, int32_t originX, int32_t originY);

// "Langkah 2 dari 5", "Langkah 2" or "" (UTF-8).
std::string StepCardCaption(std::optional<int32_t> index, std::optional<int32_t> total);

// The measured sizes of the step card's three texts (0 × 0 for an empty text).
struct StepCardTexts {
    float captionWidth = 0, captionHeight = 0;
    float titleWidth = 0, titleHeight = 0;
    float detailWidth = 0, detailHeight = 0;
};
struct StepCardLayout {
    RectF card;
    float textX = 0;
    float innerWidth = 0;
    float captionY = 0;
    float titleY = 0;
    float detailY = 0;
};
// The widest a step card's texts may be measured.
float StepCardTextLimit(float canvasWidth, uint32_t dpi);
StepCardLayout LayoutStepCard(const StepCardTexts& texts, const MonitorArea& monitor, const std::string& position,
                              uint32_t dpi);

}  // namespace training
}  // namespace sv
