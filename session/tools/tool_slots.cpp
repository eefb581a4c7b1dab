#include "session/tools/tool_slots.h"

namespace sv {

ToolSlots::ToolSlots(size_t cap) : count_(std::make_shared<Count>()) { count_->cap = cap; }

ToolSlots::Slot ToolSlots::TryTake() {
    {
        MutexLock lock(count_->mutex);
        if (count_->inUse >= count_->cap) return nullptr;
        ++count_->inUse;
    }
    std::shared_ptr<Count> count = count_;
    // The slot owns no object of its own; its deleter is the give-back.
    static char marker;
    try {
        return Slot(&marker, [count](void*) {
            MutexLock lock(count->mutex);
            --count->inUse;
        });
    } catch (...) {
        // shared_ptr runs the deleter itself when its control block cannot be made.
        return nullptr;
    }
}

size_t ToolSlots::InUse() const {
    MutexLock lock(count_->mutex);
    return count_->inUse;
}

}  // namespace sv
