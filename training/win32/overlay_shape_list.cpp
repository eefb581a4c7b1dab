#include "training/win32/overlay_shape_list.h"

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

void OverlayShapeList::Clear(const std::string& id) {
    if (id.empty()) {
        shapes_.clear();
        deadlines_.clear();
        return;
    }
    size_t kept = 0;
    for (size_t i = 0; i < shapes_.size(); ++i) {
        if (shapes_[i].id == id) continue;
        if (kept != i) {
            shapes_[kept] = std::move(shapes_[i]);
            deadlines_[kept] = deadlines_[i];
        }
        ++kept;
    }
    shapes_.resize(kept);
    deadlines_.resize(kept);
}

bool OverlayShapeList::Expire(uint64_t nowMs) {
    size_t kept = 0;
    const size_t before = shapes_.size();
    for (size_t i = 0; i < before; ++i) {
        if (deadlines_[i] != 0 && deadlines_[i] <= nowMs) continue;
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

}  // namespace training
}  // namespace sv
