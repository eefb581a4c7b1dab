#pragma once
// Reading frames and gathering them into messages, apart from the stream that
// carries them: the transport hands in a function that reads exactly n bytes.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sv {

struct WebSocketMessage {
    uint8_t opcode = 1;  // 1 text, 2 binary, 8 close
    std::string text;
    std::vector<uint8_t> data;
    uint16_t closeCode = 0;
    uint8_t closed = 0;
};

using WebSocketRead = std::function<bool(uint8_t* data, size_t length)>;

// One frame from the peer, unmasked; its opcode, or 255 on a read failure, a bad head,
// or a payload above the frame limit (`continuationLimit` for a continuation frame).
// The payload is read in steps, so a peer that announces a large frame and then
// stalls holds no more memory than it has actually sent.
uint8_t ReadWebSocketFrame(const WebSocketRead& read, std::vector<uint8_t>& payload, bool& fin,
                           uint64_t continuationLimit);

// Gathers one message from successive frames.
class WebSocketMessageAssembler {
public:
    enum class Step {
        kMore,     // read another frame
        kMessage,  // `out` holds a whole message
        kClose,    // the peer closed; `out` says so; echo the payload in a close frame
        kPing,     // answer the payload with a pong, then read on
        kError,    // give up the connection
    };

    // How many bytes a continuation frame may carry so the message stays within the
    // frame limit.
    uint64_t ContinuationLimit() const;
    // `payload` is taken for a data frame and left alone for a control frame.
    Step Add(uint8_t opcode, bool fin, std::vector<uint8_t>& payload, WebSocketMessage& out);

private:
    std::vector<uint8_t> gathered_;
    uint8_t gatheringOpcode_ = 255;  // none: a lone final continuation comes back as 255
};

}  // namespace sv
