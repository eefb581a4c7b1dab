#include "training/entry_gate.h"

namespace sv {
namespace training {

bool EntryGate::Enter(std::chrono::milliseconds waitForOpen) {
    MutexLock lock(mutex_);
    changed_.WaitFor(lock, waitForOpen, [this]() SV_REQUIRES(mutex_) { return state_ != kWaiting; });
    if (state_ != kOpen) return false;
    ++inside_;
    return true;
}

bool EntryGate::EnterToOpen() {
    MutexLock lock(mutex_);
    if (state_ == kClosed) return false;
    ++inside_;
    return true;
}

void EntryGate::Leave() {
    MutexLock lock(mutex_);
    if (--inside_ == 0) changed_.NotifyAll();
}

bool EntryGate::Open() {
    MutexLock lock(mutex_);
    if (state_ == kClosed) return false;
    state_ = kOpen;
    changed_.NotifyAll();
    return true;
}

int32_t EntryGate::Close(std::chrono::milliseconds bound) {
    MutexLock lock(mutex_);
    state_ = kClosed;
    changed_.NotifyAll();  // whoever waits to get in is turned away now
    changed_.WaitFor(lock, bound, [this]() SV_REQUIRES(mutex_) { return inside_ == 0; });
    return inside_;
}

bool EntryGate::IsOpen() {
    MutexLock lock(mutex_);
    return state_ == kOpen;
}

}  // namespace training
}  // namespace sv
