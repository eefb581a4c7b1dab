#pragma once
// An AES-256-GCM framed channel to one direct LAN peer over a connected socket.
// Any number of threads may send; exactly one thread receives. Replayed,
// reordered or forged frames kill the channel for good.
#include <winsock2.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/annotated_mutex.h"

#include "net/channel_frame.h"

namespace sv {

class SecureChannel {
public:
    // role: kRoleHost (1) or kRoleClient (0). A key that is not exactly 32 bytes
    // leaves the channel unkeyed: every send and receive then fails.
    SecureChannel(SOCKET socket, const std::vector<uint8_t>& key, uint8_t role);
    ~SecureChannel();
    SecureChannel(const SecureChannel&) = delete;
    SecureChannel& operator=(const SecureChannel&) = delete;

    // type 0 text, 1 binary. False when dead, unkeyed, closed or the payload is
    // over the frame limit (the channel stays usable then); a failed send kills it.
    bool SendFrame(const std::vector<uint8_t>& payload, uint8_t type);
    // True for one frame. False when dead, unkeyed, closed or the peer left
    // before a whole header. Throws std::runtime_error on a bad frame.
    bool ReceiveFrame(std::vector<uint8_t>& payload, bool& binary);
    // Marks the channel dead and shuts the socket down both ways (a blocked
    // receive returns); the socket stays open until Close.
    void Shutdown();
    // Closes the socket once; safe to call again and while the receive loop
    // still runs. The cipher state lives until the destructor.
    void Close();

    bool IsDead() const { return dead_.load() != 0; }
    bool IsKeyReady() const { return cipher_.IsKeyed(); }
    SOCKET Socket() const { return socket_.load(); }

private:
    void MarkDeadAndShutdown();
    bool RecvWhileAlive(SOCKET s, uint8_t* buf, size_t n);

    std::atomic<SOCKET> socket_;
    ChannelFrameCipher cipher_;  // send side under sendMutex_, receive side on the reader
    std::atomic<uint8_t> dead_{0};
    Mutex sendMutex_;
};

// recv until n bytes arrived; false on a result below 1. n = 0 is true.
bool RecvExact(SOCKET s, uint8_t* buf, size_t n);
// send until n bytes are out; false on a result below 1. n = 0 is true.
bool SendAll(SOCKET s, const uint8_t* buf, size_t n);

}  // namespace sv
