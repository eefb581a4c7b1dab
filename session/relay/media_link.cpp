#include "session/relay/media_link.h"

#include <chrono>

#include "session/relay/message_table.h"
#include "session/relay/reconnect_policy.h"
#include "session/relay/relay_messages.h"

namespace sv {

MediaLink::MediaLink(std::function<bool()> stopping) : stopping_(std::move(stopping)) {}

uint32_t MediaLink::NewGeneration() {
    const uint32_t generation = generation_.fetch_add(1) + 1;
    attached_.store(false);
    // A thread of the old generation waiting to retry leaves now.
    { std::lock_guard<std::mutex> lock(waitMutex_); }
    wake_.notify_all();
    return generation;
}

void MediaLink::Abort() {
    client_.AbortSocket();
    { std::lock_guard<std::mutex> lock(waitMutex_); }
    wake_.notify_all();
}

void MediaLink::Run(const std::string& url, const std::string& caBundlePath, const std::string& token,
                    uint32_t generation, uint32_t connectTimeoutMs) {
    int32_t delay = 1;
    while (Current(generation)) {
        {
            // An older media thread may still sit in a receive on the shared connection:
            // knock it out, then wait until it has let go.
            {
                std::lock_guard<std::mutex> lock(stateMutex_);
                if (owner_ != 0) client_.AbortSocket();
            }
            std::unique_lock<std::mutex> own(ownerMutex_);
            {
                std::lock_guard<std::mutex> lock(stateMutex_);
                if (!Current(generation)) return;
                owner_ = generation;
            }
            if (client_.Connect(url, caBundlePath.c_str(), connectTimeoutMs)) {
                client_.SendText(MediaAttachMessage(token));
                while (Current(generation)) {
                    WebSocketMessage msg;
                    if (client_.ReceiveMessage(msg) != 0) break;
                    if (msg.opcode != 1) continue;
                    std::optional<IncomingMessage> in = ParseIncoming(msg.text, MessageSource::kRelay);
                    if (in && in->type == "media-attached") attached_.store(true);
                }
            }
            {
                std::lock_guard<std::mutex> lock(stateMutex_);
                owner_ = 0;
                attached_.store(false);
                client_.Disconnect();
            }
        }
        std::unique_lock<std::mutex> lock(waitMutex_);
        if (wake_.wait_for(lock, std::chrono::seconds(delay), [&] { return !Current(generation); })) return;
        lock.unlock();
        delay = NextMediaRetryDelay(delay);
    }
}

}  // namespace sv
