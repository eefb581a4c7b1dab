#pragma once
// An AES-256-GCM framed channel to one direct LAN peer.
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "mbedtls/gcm.h"

namespace sv {

class SecureChannel {
public:
    SecureChannel(SOCKET socket, const std::vector<uint8_t>& key, uint8_t role);
    ~SecureChannel();
    SecureChannel(const SecureChannel&) = delete;
    SecureChannel& operator=(const SecureChannel&) = delete;

    bool SendFrame(const std::vector<uint8_t>& payload, uint8_t type);
    // Throws std::runtime_error on a bad frame; false when dead, unkeyed or closed.
    bool ReceiveFrame(std::vector<uint8_t>& payload, bool& binary);
    void Shutdown();
    void Close();

    bool IsDead() const { return dead_.load() != 0; }
    bool IsKeyReady() const { return keyReady_ != 0; }
    SOCKET Socket() const { return socket_.load(); }

private:
    std::atomic<SOCKET> socket_;
    mbedtls_gcm_context gcm_;
    uint8_t keyReady_ = 0;
    uint8_t role_ = 1;
    uint8_t peerRole_ = 0;
    uint64_t sendCounter_ = 0;
    uint64_t recvCounter_ = 0;
    std::atomic<uint8_t> dead_{0};
    std::mutex sendMutex_;
};

bool RecvExact(SOCKET s, uint8_t* buf, size_t n);
bool SendAll(SOCKET s, const uint8_t* buf, size_t n);

}  // namespace sv
