#include "training/win32/overlay_shape_list.h"

#include <utility>

namespace sv {
namespace training {

void OverlayShapeList::Upsert(const OverlayShape& shape, uint64_t nowMs) {
    const uint64_t deadline = shape.ttlMs > 0 ? nowMs + static_cast<uint64_t>(shape.ttlMs) : 0;
    bool found = false;
    for (size_t i = 0; i < shapes_.size(); ++i) {
        if (shapes_[i].id == shape.id) {
            shapes_[i] = shape;
            deadlines_[i] = deadline;
            found = true;
        }
    }
    if (!found) {
        shapes_.push_back(shape);
        deadlines_.push_back(deadline);
    }
}

template <typename Gone>
bool OverlayShapeList::RemoveWhere(Gone gone) {
    size_t kept = 0;
    const size_t before = shapes_.size();
    for (size_t i = 0; i < before; ++i) {
        if (gone(i)) continue;
        if (kept != i) {
            shapes_[kept] = std::move(shapes_[i]);
            deadlines_[kept] = deadlines_[i];
        }
        ++kept;
    }
    shapes_.resize(kept);
    deadlines_.resize(kept);
    return kept != before;
}

void OverlayShapeList::Clear(const std::string& id) {
    if (id.empty()) {
        shapes_.clear();
        deadlines_.clear();
        return;
    }
    RemoveWhere([&](size_t i) { return shapes_[i].id == id; });
}

bool OverlayShapeList::Expire(uint64_t nowMs) {
    return RemoveWhere([&](size_t i) { return deadlines_[i] != 0 && deadlines_[i] <= nowMs; });
}

}  // namespace training
}  // namespace sv
