#include "session/relay/media_link.h"

#include <chrono>

#include "session/relay/reconnect_policy.h"
#include "session/relay/relay_messages.h"

namespace sv {

bool IsMediaAttachedReply(const std::string& text) {
    // Relays word the answer differently ({"type":"media-attached"}, a bare word, a status
    // field): the word alone is what they share, so nothing more is asked of the text.
    return text.find("media-attached") != std::string::npos;
}

MediaLink::MediaLink(std::function<bool()> stopping) : stopping_(std::move(stopping)) {}

uint32_t MediaLink::NewGeneration() {
    const uint32_t generation = generation_.fetch_add(1) + 1;
    attached_.store(false);
    // A thread of the old generation waiting to retry leaves now.
    { MutexLock lock(waitMutex_); }
    wake_.NotifyAll();
    return generation;
}

void MediaLink::Abort() {
    client_.AbortForGood();
    { MutexLock lock(waitMutex_); }
    wake_.NotifyAll();
}

void MediaLink::Run(const std::string& url, const std::string& caBundlePath, const std::string& token,
                    uint32_t generation, uint32_t connectTimeoutMs) {
    int32_t delay = 1;
    while (Current(generation)) {
        {
            // An older media thread may still sit in a receive on the shared connection:
            // knock it out, then wait until it has let go.
            {
                MutexLock lock(stateMutex_);
                if (owner_ != 0) client_.AbortSocket();
            }
            MutexLock own(ownerMutex_);
            {
                MutexLock lock(stateMutex_);
                if (!Current(generation)) return;
                owner_ = generation;
            }
            // A newer generation's knock-out may come before the connect's fresh start,
            // which would forget it; the generation it bumped first is looked at after.
            if (client_.Connect(url, caBundlePath.c_str(), connectTimeoutMs,
                                [&] { return !Current(generation); })) {
                client_.SendText(MediaAttachMessage(token));
                while (Current(generation)) {
                    WebSocketMessage msg;
                    if (client_.ReceiveMessage(msg) != 0) break;
                    if (msg.opcode == 1 && IsMediaAttachedReply(msg.text)) attached_.store(true);
                }
            }
            {
                MutexLock lock(stateMutex_);
                owner_ = 0;
                attached_.store(false);
                client_.Disconnect();
            }
        }
        MutexLock lock(waitMutex_);
        if (wake_.WaitFor(lock, std::chrono::seconds(delay), [&] { return !Current(generation); })) return;
        lock.Unlock();
        delay = NextMediaRetryDelay(delay);
    }
}

}  // namespace sv
