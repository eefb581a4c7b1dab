#pragma once
// What the controllers set for the stream: frame rate, width limit and JPEG quality.
// Read by the stream thread at every frame, written by any message thread.
#include <atomic>
#include <cstdint>

#include "session/screen/stream_rules.h"

namespace sv {

class StreamSettings {
public:
    int32_t Fps() const { return fps_.load(); }
    int32_t MaxWidth() const { return maxWidth_.load(); }
    int32_t Quality() const { return quality_.load(); }
    // Takes what a "stream-control" asked for; true when it set the quality.
    bool Apply(const StreamControlRequest& request);
    void SetMaxWidth(int32_t width) { maxWidth_.store(width); }

private:
    std::atomic<int32_t> fps_{10};
    std::atomic<int32_t> maxWidth_{1280};
    std::atomic<int32_t> quality_{60};
};

}  // namespace sv
