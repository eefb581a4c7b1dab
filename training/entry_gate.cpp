#include "training/entry_gate.h"

namespace sv {
namespace training {

bool EntryGate::Enter(std::chrono::milliseconds waitForOpen) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, waitForOpen, [this] { return state_ != kWaiting; });
    if (state_ != kOpen) return false;
    ++inside_;
    return true;
}

bool EntryGate::EnterToOpen() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == kClosed) return false;
    ++inside_;
    return true;
}

void EntryGate::Leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--inside_ == 0) changed_.notify_all();
}

bool EntryGate::Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == kClosed) return false;
    state_ = kOpen;
    changed_.notify_all();
    return true;
}

int32_t EntryGate::Close(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex_);
    state_ = kClosed;
    changed_.notify_all();  // whoever waits to get in is turned away now
    changed_.wait_for(lock, bound, [this] { return inside_ == 0; });
    return inside_;
}

bool EntryGate::IsOpen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_ == kOpen;
}

}  // namespace training
}  // namespace sv
