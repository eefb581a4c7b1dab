#include "training/entry_gate.h"

namespace sv {
namespace training {

bool EntryGate::Enter() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return false;
    ++inside_;
    return true;
}

void EntryGate::Leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--inside_ == 0) idle_.notify_all();
}

void EntryGate::Close() {
    std::unique_lock<std::mutex> lock(mutex_);
    open_ = false;
    idle_.wait(lock, [this] { return inside_ == 0; });
}

bool EntryGate::IsOpen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

}  // namespace training
}  // namespace sv
