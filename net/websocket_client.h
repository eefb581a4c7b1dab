#pragma once
// One WebSocket connection (RFC 6455 client) over a TlsStream.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/annotated_mutex.h"

#include "net/connect_failure.h"
#include "net/tls_stream.h"
#include "net/websocket_message.h"

namespace sv {

class WebSocketClient {
public:
    WebSocketClient();
    ~WebSocketClient();
    WebSocketClient(const WebSocketClient&) = delete;
    WebSocketClient& operator=(const WebSocketClient&) = delete;

    // `abandoned`, when given, is asked once the connect has started afresh: true fails it
    // at once. An owner whose abort may land just before the fresh start (which clears it)
    // makes the abort's reason true before aborting, so one of the two always counts.
    bool Connect(const std::string& url, const char* caBundlePath, uint32_t receiveTimeoutMs,
                 const std::function<bool()>& abandoned = nullptr);
    // Why the last Connect failed (None after a success); the connecting thread only.
    ConnectFailure LastConnectFailure() const { return lastFailure_; }
    // 0: one whole message, 1: the peer sent close, 2: error.
    int ReceiveMessage(WebSocketMessage& out);
    bool SendText(const std::string& text);
    // Dropped (false) when another send holds the connection: frames are never queued.
    bool SendBinary(const uint8_t* data, size_t length);
    void Disconnect();
    // From any thread: ends the connection, or the connect, under way. The next Connect
    // starts afresh.
    void AbortSocket();
    // From any thread, for an owner that is stopping: as AbortSocket, and every later
    // Connect fails at once. A stop that lands after the owner's last look at its stop
    // flag, just before a Connect, must not be forgotten by the connect's fresh start.
    void AbortForGood();
    // Ends the connection as agreed with the peer, from any thread: a close frame with
    // `code` and the peer's close, which the receiving thread reads (ReceiveMessage then
    // returns 1), within `answerWait` in all (a send under way ends by then too), then
    // the socket is cut whatever came.
    void Close(uint16_t code, std::chrono::milliseconds answerWait);
    bool IsOpen() const { return open_.load(); }

    // One frame from the peer; 255 on any failure or a payload above the frame limit.
    uint8_t ReadFrame(std::vector<uint8_t>& payload, bool& fin);
    // One whole masked frame.
    bool WriteFrame(uint8_t opcode, const uint8_t* data, size_t length) SV_REQUIRES(sendMutex_);

    const std::string& Host() const { return host_; }
    uint16_t Port() const { return port_; }
    const std::string& Path() const { return path_; }

private:
    // As ReadFrame, but a continuation frame may carry at most `continuationLimit` bytes
    // so that a message gathered from fragments stays within the frame limit.
    uint8_t ReadFrameWithin(std::vector<uint8_t>& payload, bool& fin, uint64_t continuationLimit);
    void NoteReceiveEnded() SV_EXCLUDES(endMutex_);

    TlsStream stream_;
    std::string host_;
    uint16_t port_ = 443;
    std::string path_ = "/";
    std::atomic<bool> open_{false};
    std::atomic<bool> abortedForGood_{false};
    Mutex sendMutex_;
    // Our close frame has gone: the peer's answer is not answered again.
    bool closeSent_ SV_GUARDED_BY(sendMutex_) = false;
    // The receiving thread has seen the connection end; Close waits for it.
    Mutex endMutex_;
    CondVar ended_;
    bool receiveEnded_ SV_GUARDED_BY(endMutex_) = false;
    ConnectFailure lastFailure_ = ConnectFailure::None;
};

// A 32-bit word from the system's strong random source; safe from any thread.
uint32_t NextMaskWord();

}  // namespace sv
