#pragma once
// The media connection: a second WebSocket to the relay that screen frames prefer once
// the relay has attached it. Every "registered" with a media token starts a new
// generation; a thread of an older one sees the change and leaves, and never uses or
// disconnects a connection that a newer one opened.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "base/annotated_mutex.h"

#include "net/websocket_client.h"

namespace sv {

// Whether a text on the media connection is the relay's attach answer: any text that
// holds "media-attached", whatever else it says.
bool IsMediaAttachedReply(const std::string& text);

class MediaLink {
public:
    // `stopping` is the owner's stop flag, read before every step.
    explicit MediaLink(std::function<bool()> stopping);

    // A new generation: frames go over the relay until its thread is attached.
    uint32_t NewGeneration();
    uint32_t Generation() const { return generation_.load(); }
    bool Attached() const { return attached_.load(); }

    // The media thread: connect, attach with `token`, receive until superseded or stopped,
    // and retry after 1, 2, 4 ... 60 seconds. Returns at once for a stale generation.
    void Run(const std::string& url, const std::string& caBundlePath, const std::string& token, uint32_t generation,
             uint32_t connectTimeoutMs);
    bool SendBinary(const uint8_t* data, size_t length) { return client_.SendBinary(data, length); }
    // Aborts the connection and ends a retry wait at once (the owner is stopping); a
    // connect that starts after it fails at once.
    void Abort();

private:
    bool Current(uint32_t generation) const { return generation_.load() == generation && !stopping_(); }

    std::function<bool()> stopping_;
    WebSocketClient client_;
    std::atomic<bool> attached_{false};
    std::atomic<uint32_t> generation_{0};
    // A thread holds ownerMutex_ from its connect to its disconnect, so two generations
    // never use the one connection at once; owner_ (under stateMutex_) names the holder,
    // so a newer generation can knock it out of a receive.
    Mutex ownerMutex_;
    Mutex stateMutex_ SV_ACQUIRED_AFTER(ownerMutex_);
    uint32_t owner_ SV_GUARDED_BY(stateMutex_) = 0;
    Mutex waitMutex_;
    CondVar wake_;
};

}  // namespace sv
