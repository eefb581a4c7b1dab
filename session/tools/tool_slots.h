#pragma once
// How many remote-tool requests may run at once. Each one holds a thread (a command also
// cmd.exe and two readers) until it answers; past the cap a request is refused at once
// instead of piling up threads and processes.
#include <cstddef>
#include <memory>

#include "base/annotated_mutex.h"

namespace sv {

constexpr size_t kRemoteToolSlots = 4;
// A request gives its work slot back before its last reply, but keeps its thread until
// that reply has left; toward a connection that does not read, that can take a while.
// Threads working or sending are capped too, so such a connection cannot pile them up.
constexpr size_t kRemoteToolThreads = 2 * kRemoteToolSlots;
// The answer a controller gets for a request over the cap.
constexpr const char* kToolsBusyError = "too many requests";

class ToolSlots {
public:
    // A taken slot. It is given back when the last copy goes, so work that never ran
    // (its thread could not start) gives it back too. Empty when every slot was taken.
    using Slot = std::shared_ptr<void>;

    explicit ToolSlots(size_t cap = kRemoteToolSlots);
    ToolSlots(const ToolSlots&) = delete;
    ToolSlots& operator=(const ToolSlots&) = delete;

    Slot TryTake();
    size_t InUse() const;

private:
    // Shared with every slot, so a slot outliving its table is still safe to give back.
    struct Count {
        Mutex mutex;
        size_t inUse SV_GUARDED_BY(mutex) = 0;
        size_t cap SV_GUARDED_BY(mutex) = 0;
    };
    std::shared_ptr<Count> count_;
};

}  // namespace sv
