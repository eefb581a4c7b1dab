#include "training/banner_placement.h"

#include <algorithm>

#include "base/case_fold.h"
#include "training/training_args.h"

namespace sv {
namespace training {

const char* const kCornerNames[4] = {"bottom-right", "bottom-left", "top-right", "top-left"};

bool IsCornerName(const std::string& text) {
    for (const char* name : kCornerNames) {
        if (text == name) return true;
    }
    return false;
}

Box CornerRect(const std::string& corner, const Box& area, int32_t width, int32_t height, int32_t margin) {
    int64_t left = static_cast<int64_t>(area.x) + margin;
    int64_t right = static_cast<int64_t>(area.x) + area.width - width - margin;
    int64_t top = static_cast<int64_t>(area.y) + margin;
    int64_t bottom = static_cast<int64_t>(area.y) + area.height - height - margin;
    Box r;
    r.width = width;
    r.height = height;
    if (corner == "top-left") {
        r.x = SaturateToInt32(left);
        r.y = SaturateToInt32(top);
    } else if (corner == "top-right") {
        r.x = SaturateToInt32(right);
        r.y = SaturateToInt32(top);
    } else if (corner == "bottom-left") {
        r.x = SaturateToInt32(left);
        r.y = SaturateToInt32(bottom);
    } else {
        r.x = SaturateToInt32(right);
        r.y = SaturateToInt32(bottom);
    }
    return r;
}

int64_t OverlapArea(const Box& rect, const std::vector<Box>& shapes) {
    if (rect.width <= 0 || rect.height <= 0) return 0;
    int64_t total = 0;
    for (const Box& s : shapes) {
        if (s.width <= 0 || s.height <= 0) continue;
        int64_t x0 = std::max<int64_t>(rect.x, s.x);
        int64_t y0 = std::max<int64_t>(rect.y, s.y);
        int64_t x1 = std::min<int64_t>(static_cast<int64_t>(rect.x) + rect.width, static_cast<int64_t>(s.x) + s.width);
        int64_t y1 = std::min<int64_t>(static_cast<int64_t>(rect.y) + rect.height, static_cast<int64_t>(s.y) + s.height);
        if (x1 - x0 < 1 || y1 - y0 < 1) continue;
        // Each side is below 2^33, so the product fits; the sum saturates.
        int64_t area = (x1 - x0) * (y1 - y0);
        total = (total > INT64_MAX - area) ? INT64_MAX : total + area;
    }
    return total;
}

CornerPlacement PlaceBanner(const Box& area, int32_t width, int32_t height, const std::vector<Box>& shapes,
                            const std::string& preferred, int32_t margin) {
    std::vector<std::string> candidates;
    if (IsCornerName(preferred)) candidates.push_back(preferred);
    for (const char* name : kCornerNames) {
        if (preferred != name) candidates.push_back(name);
    }
    CornerPlacement best;
    bool haveBest = false;
    for (const std::string& corner : candidates) {
        Box rect = CornerRect(corner, area, width, height, margin);
        int64_t overlap = (rect.width < 1 || rect.height < 1) ? 0 : OverlapArea(rect, shapes);
        if (shapes.empty() || overlap == 0) return CornerPlacement{corner, rect, 0};
        if (!haveBest || overlap < best.overlap) {
            best = CornerPlacement{corner, rect, overlap};
            haveBest = true;
        }
    }
    return best;
}

std::optional<int32_t> FitSpan(int32_t total, int32_t used, int32_t preferred, int32_t minimum, int32_t margin) {
    int64_t available = static_cast<int64_t>(total) - used - margin;
    if (available >= preferred) return preferred;
    if (available < minimum) return std::nullopt;
    return SaturateToInt32(available);
}

BannerPositionArg ParseBannerPosition(const std::optional<std::string>& raw) {
    BannerPositionArg out;
    if (!raw) return out;
    std::string position = AsciiLower(TrimWhitespace(*raw));
    if (position != "auto" && !IsCornerName(position)) {
        out.error = "position must be top-left, top-right, bottom-left, bottom-right or auto";
        return out;
    }
    out.position = position;
    return out;
}

std::string BannerAuditDetail(const std::optional<std::string>& position, std::optional<bool> compact,
                              const BannerPlacement& placement) {
    auto word = [](bool b) { return b ? "True" : "False"; };
    return "banner position=" + position.value_or("-") + " compact=" + (compact ? word(*compact) : "-") + " -> " +
           (placement.corner.empty() ? std::string("dragged") : placement.corner) + " compact=" +
           word(placement.compact);
}

}  // namespace training
}  // namespace sv
