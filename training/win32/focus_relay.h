#pragma once
// Hands focus changes from UI Automation's delivery threads to the inspector's callback.
// Delivery may come on several threads at once and after tracking was asked to stop; the
// relay lets one call through at a time, and once closed lets none through, waiting for a
// call already under way.
#include <cstdint>
#include <functional>
#include <optional>

#include "base/annotated_mutex.h"

#include "training/training_records.h"

namespace sv {
namespace training {

class FocusRelay {
public:
    FocusRelay(std::function<void(const UiElement&)> onFocus, uint32_t ownProcessId);

    // Passes on a described element of another process; anything the callback throws stays here.
    void Deliver(const std::optional<UiElement>& element);
    // No call starts after this returns.
    void Close();

private:
    Mutex mutex_;
    bool open_ SV_GUARDED_BY(mutex_) = true;
    std::function<void(const UiElement&)> onFocus_;
    const uint32_t ownProcessId_;
};

}  // namespace training
}  // namespace sv
