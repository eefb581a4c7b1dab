#pragma once
// A door that callers pass through one call at a time. It may start shut until its owner
// opens it (a session whose banner is not up yet): callers then wait for it, up to a
// bound of their own, or are turned away. Close() shuts it for good and waits, up to a
// bound, for those still inside; what is still inside then is reported to the closer and
// left to finish, and nobody gets in afterwards. A closer must never be one of those
// inside.
#include <chrono>
#include <cstdint>

#include "base/annotated_mutex.h"

namespace sv {
namespace training {

class EntryGate {
public:
    // A gate made shut opens with Open(); one made open (the default) needs nothing more.
    explicit EntryGate(bool open = true) : state_(open ? kOpen : kWaiting) {}

    // False once closed, or when the gate did not open within waitForOpen.
    bool Enter(std::chrono::milliseconds waitForOpen = std::chrono::milliseconds(0)) SV_EXCLUDES(mutex_);
    // For whoever opens the gate: gets in while it still waits to open. False once closed.
    bool EnterToOpen() SV_EXCLUDES(mutex_);
    void Leave() SV_EXCLUDES(mutex_);
    // Lets in those waiting and those to come; false when it was closed first.
    bool Open() SV_EXCLUDES(mutex_);
    // Nothing enters from here on; waits up to bound for those inside to leave. Returns
    // how many are still inside (0: all of them left).
    int32_t Close(std::chrono::milliseconds bound) SV_EXCLUDES(mutex_);
    bool IsOpen() SV_EXCLUDES(mutex_);

    // Holds one passage for a scope; check Entered() before acting.
    class Pass {
    public:
        explicit Pass(EntryGate& gate, std::chrono::milliseconds waitForOpen = std::chrono::milliseconds(0))
            : gate_(gate), entered_(gate.Enter(waitForOpen)) {}
        ~Pass() {
            if (entered_) gate_.Leave();
        }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;
        bool Entered() const { return entered_; }

    private:
        EntryGate& gate_;
        const bool entered_;
    };

private:
    enum State { kWaiting, kOpen, kClosed };
    Mutex mutex_;
    CondVar changed_;
    State state_ SV_GUARDED_BY(mutex_);
    int32_t inside_ SV_GUARDED_BY(mutex_) = 0;
};

}  // namespace training
}  // namespace sv
