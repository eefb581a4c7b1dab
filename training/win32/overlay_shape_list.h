#pragma once
// The shapes on screen, each with the tick (milliseconds) at which it expires; 0 never.
#include <cstdint>
#include <string>
#include <vector>

#include "training/training_records.h"

namespace sv {
namespace training {

class OverlayShapeList {
public:
    // Replaces every shape with that id in place (keeping its drawing position), or
    // appends the shape; its deadline starts again from `nowMs`.
    void Upsert(const OverlayShape& shape, uint64_t nowMs);
    // Removes the shapes with that id, or all of them for an empty id.
    void Clear(const std::string& id);
    // Removes the shapes whose deadline has come; true when any went.
    bool Expire(uint64_t nowMs);

    const std::vector<OverlayShape>& Shapes() const { return shapes_; }
    const std::vector<uint64_t>& Deadlines() const { return deadlines_; }

private:
    // Drops the shapes for which `gone(index)` holds, keeping the others' order; true
    // when any went.
    template <typename Gone>
    bool RemoveWhere(Gone gone);

    std::vector<OverlayShape> shapes_;
    std::vector<uint64_t> deadlines_;
};

}  // namespace training
}  // namespace sv
