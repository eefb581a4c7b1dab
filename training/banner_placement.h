#pragma once
// Where the session banner goes: the screen corner that covers the fewest overlay shapes,
// and how much of a span is left for one of its parts. Pure geometry in desktop pixels;
// every sum is taken in 64 bits and saturated, so no rectangle a trainer sends can overflow.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "training/training_records.h"

namespace sv {
namespace training {

// The corner table, in the order corners are tried.
extern const char* const kCornerNames[4];

struct CornerPlacement {
    std::string corner;
    Box rect;
    int64_t overlap = 0;  // covered area in square pixels
};

// True exactly for the four corner names (case-sensitive, no trimming).
bool IsCornerName(const std::string& text);

// A width x height rectangle in the corner of area, margin pixels in from both edges;
// a name outside the table means bottom-right.
Box CornerRect(const std::string& corner, const Box& area, int32_t width, int32_t height, int32_t margin);

// The summed intersection of rect with every shape; empty rectangles add nothing.
int64_t OverlapArea(const Box& rect, const std::vector<Box>& shapes);

// The preferred corner (when it is a corner name) first, then the table; the first corner
// that covers nothing wins, else the one that covers least (ties keep the earlier one).
CornerPlacement PlaceBanner(const Box& area, int32_t width, int32_t height, const std::vector<Box>& shapes,
                            const std::string& preferred, int32_t margin);

// The room left of total after used and margin: preferred when that fits, nothing when
// less than minimum is left, otherwise what is left.
std::optional<int32_t> FitSpan(int32_t total, int32_t used, int32_t preferred, int32_t minimum, int32_t margin);

// The "banner" op's position argument: trimmed and lower-cased; it must be "auto" or a
// corner name. Absent stays absent (the banner keeps its place).
struct BannerPositionArg {
    std::optional<std::string> position;
    std::string error;  // empty when the argument is acceptable
};
BannerPositionArg ParseBannerPosition(const std::optional<std::string>& raw);

// The audit detail of one "banner" op.
std::string BannerAuditDetail(const std::optional<std::string>& position, std::optional<bool> compact,
                              const BannerPlacement& placement);

}  // namespace training
}  // namespace sv
