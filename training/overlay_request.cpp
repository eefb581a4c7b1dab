#include "training/overlay_request.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "base/case_fold.h"
#include "training/training_args.h"

namespace sv {
namespace training {

using nlohmann::json;

namespace {

const char* const kKinds[] = {"highlight", "spotlight", "arrow", "step", "stroke", "ellipse", "text", "ghost"};

bool IsKind(const std::string& kind) {
    for (const char* k : kKinds) {
        if (kind == k) return true;
    }
    return false;
}

// A JSON number truncated toward zero to 32 bits; none for any other value.
std::optional<int32_t> TruncatedInt32(const json& v) {
    if (!v.is_number()) return std::nullopt;
    if (v.is_number_unsigned()) {
        uint64_t u = v.get<uint64_t>();
        return u > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) ? std::numeric_limits<int32_t>::max()
                                                                              : static_cast<int32_t>(u);
    }
    if (v.is_number_integer()) return SaturateToInt32(v.get<int64_t>());
    return SaturateToInt32(TruncateToInt64(v.get<double>()));
}

// One stroke point: [x, y, ...] or {"x": .., "y": ..} with both numbers.
std::optional<std::pair<int32_t, int32_t>> StrokePoint(const json& e) {
    const json* x = nullptr;
    const json* y = nullptr;
    if (e.is_array() && e.size() >= 2) {
        x = &e[0];
        y = &e[1];
    } else if (e.is_object()) {
        auto xi = e.find("x");
        auto yi = e.find("y");
        if (xi == e.end() || yi == e.end()) return std::nullopt;
        x = &*xi;
        y = &*yi;
    } else {
        return std::nullopt;
    }
    std::optional<int32_t> tx = TruncatedInt32(*x);
    std::optional<int32_t> ty = TruncatedInt32(*y);
    if (!tx || !ty) return std::nullopt;
    return std::make_pair(*tx, *ty);
}

OverlayRequest Refuse(std::string error) {
    OverlayRequest r;
    r.error = std::move(error);
    return r;
}

}  // namespace

int32_t ToDesktop(int64_t capture, int32_t origin) {
    // capture is at most 2^32 away from zero here, so the sum cannot overflow 64 bits.
    return SaturateToInt32(capture + origin);
}

int32_t OverlayTtlMs(const json& args) {
    int64_t ttl = 0;
    if (std::optional<int32_t> ms = ArgInt(args, "ttlMs")) {
        ttl = *ms;
    } else if (std::optional<double> secs = ArgNumber(args, "ttlSeconds")) {
        ttl = RoundToInt32(*secs * 1000.0);
    }
    return static_cast<int32_t>(std::clamp<int64_t>(ttl, 0, kMaxOverlayTtlMs));
}

OverlayRequest ParseOverlayRequest(const json& args, int32_t originX, int32_t originY,
                                   const std::function<uint32_t()>& nextId) {
    const std::string kind = AsciiLower(ArgString(args, "kind").value_or(""));
    if (!IsKind(kind)) {
        return Refuse("overlay kind must be one of: highlight, spotlight, arrow, step, stroke, ellipse, text, ghost");
    }

    OverlayRequest r;
    OverlayShape& s = r.shape;
    if (std::optional<std::string> id = ArgString(args, "id")) {
        s.id = CutToCodePoints(*id, 40);
    } else {
        s.id = "o" + std::to_string(nextId());
    }
    s.kind = kind;

    if (kind == "stroke") {
        const json* points = FindArg(args, "points");
        if (points && points->is_array()) {
            for (const json& e : *points) {
                if (s.points.size() >= kMaxStrokePoints) break;
                if (auto p = StrokePoint(e)) {
                    s.points.emplace_back(ToDesktop(p->first, originX), ToDesktop(p->second, originY));
                }
            }
        }
        if (s.points.size() < 2) return Refuse("a stroke needs at least two points [[x,y],[x,y],...]");
    }

    std::optional<int32_t> width = ArgInt(args, "width");
    std::optional<int32_t> height = ArgInt(args, "height");
    if (kind == "highlight" || kind == "spotlight" || kind == "ellipse") {
        if (!width || !height || *width <= 0 || *height <= 0) {
            return Refuse(kind + " needs x, y, width and height (capture_screen pixels)");
        }
    }

    std::optional<std::string> title = ArgString(args, "title");
    if (kind == "step" && IsBlank(title)) return Refuse("a step needs a title");

    std::optional<std::string> labelSource = ArgString(args, "label");
    if (!labelSource) labelSource = ArgString(args, "text");
    if (kind == "text" && IsBlank(labelSource)) return Refuse("text needs a label");

    std::optional<int32_t> x = ArgInt(args, "x");
    std::optional<int32_t> y = ArgInt(args, "y");
    s.hasPoint = x.has_value() || y.has_value();
    s.x = ToDesktop(x.value_or(0), originX);
    s.y = ToDesktop(y.value_or(0), originY);
    s.width = width.value_or(0);
    s.height = height.value_or(0);
    if (std::optional<int32_t> fx = ArgInt(args, "fromX")) s.fromX = ToDesktop(*fx, originX);
    if (std::optional<int32_t> fy = ArgInt(args, "fromY")) s.fromY = ToDesktop(*fy, originY);
    s.label = CutToCodePoints(labelSource.value_or(""), 200);
    s.color = ArgString(args, "color").value_or("");
    s.strokeWidth = std::clamp(ArgNumber(args, "strokeWidth").value_or(4.0), 1.0, 30.0);
    s.index = ArgInt(args, "index");
    s.total = ArgInt(args, "total");
    s.detail = CutToCodePoints(ArgString(args, "detail").value_or(""), 400);
    s.position = ArgString(args, "position").value_or("");
    s.ttlMs = OverlayTtlMs(args);

    if (kind != "step") {
        r.transcriptKind = "overlay";
        r.transcript = {{"kind", kind}, {"id", s.id}, {"width", s.width}, {"height", s.height}};
        if (x) r.transcript["x"] = *x;
        if (y) r.transcript["y"] = *y;
        if (!s.label.empty()) r.transcript["label"] = s.label;
    } else {
        r.isStep = true;
        r.stepTitle = CutToCodePoints(*title, 160);
        s.label = r.stepTitle;
        r.transcriptKind = "step";
        r.transcript = {{"title", r.stepTitle}};
        if (s.index) r.transcript["index"] = *s.index;
        if (s.total) r.transcript["total"] = *s.total;
        if (!s.detail.empty()) r.transcript["detail"] = s.detail;
    }
    return r;
}

bool BannerMoved(const BannerState& before, const BannerState& after) {
    if (before.has_value() != after.has_value()) return true;
    return before && *before != *after;
}

}  // namespace training
}  // namespace sv
