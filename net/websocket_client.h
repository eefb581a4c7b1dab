#pragma once
// One WebSocket connection (RFC 6455 client) over a TlsStream.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "net/tls_stream.h"

namespace sv {

struct WebSocketMessage {
    uint8_t opcode = 1;  // 1 text, 2 binary, 8 close
    std::string text;
    std::vector<uint8_t> data;
    uint16_t closeCode = 0;
    uint8_t closed = 0;
};

class WebSocketClient {
public:
    WebSocketClient();
    ~WebSocketClient();
    WebSocketClient(const WebSocketClient&) = delete;
    WebSocketClient& operator=(const WebSocketClient&) = delete;

    bool Connect(const std::string& url, const char* caBundlePath, uint32_t receiveTimeoutMs);
    // 0: one whole message, 1: the peer sent close, 2: error.
    int ReceiveMessage(WebSocketMessage& out);
    bool SendText(const std::string& text);
    // Dropped (false) when another send holds the connection: frames are never queued.
    bool SendBinary(const uint8_t* data, size_t length);
    void Disconnect();
    void AbortSocket();
    bool IsOpen() const { return open_.load(); }

    uint8_t ReadFrame(std::vector<uint8_t>& payload, bool& fin);
    bool WriteFrame(uint8_t opcode, const uint8_t* data, size_t length);

private:
    TlsStream stream_;
    std::string host_;
    uint16_t port_ = 443;
    std::string path_ = "/";
    std::atomic<bool> open_{false};
    std::mutex sendMutex_;
};

uint32_t NextMaskWord();

}  // namespace sv
