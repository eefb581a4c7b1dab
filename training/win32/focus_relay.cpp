#include "training/win32/focus_relay.h"

#include <utility>

namespace sv {
namespace training {

FocusRelay::FocusRelay(std::function<void(const UiElement&)> onFocus, uint32_t ownProcessId)
    : onFocus_(std::move(onFocus)), ownProcessId_(ownProcessId) {}

void FocusRelay::Deliver(const std::optional<UiElement>& element) {
    if (!element || element->processId == ownProcessId_) return;
    MutexLock lock(mutex_);
    if (!open_ || !onFocus_) return;
    try {
        onFocus_(*element);
    } catch (...) {
        // A failing receiver costs only this notice.
    }
}

void FocusRelay::Close() {
    MutexLock lock(mutex_);
    open_ = false;
    onFocus_ = nullptr;
}

}  // namespace training
}  // namespace sv
