#include "net/websocket_message.h"

#include <algorithm>

#include "net/websocket_frame.h"

namespace sv {

namespace {
constexpr size_t kReadStep = 1 << 20;
}

uint8_t ReadWebSocketFrame(const WebSocketRead& read, std::vector<uint8_t>& payload, bool& fin,
                           uint64_t continuationLimit) {
    uint8_t head[14];
    if (!read(head, 2)) return 255;
    size_t headSize = WebSocketFrameHeadSize(head[0], head[1]);
    if (headSize > 2 && !read(head + 2, headSize - 2)) return 255;
    WebSocketFrameHead frame;
    if (!DecodeWebSocketFrameHead(head, headSize, frame)) return 255;
    uint64_t limit = frame.opcode == kWsContinuation ? std::min(continuationLimit, kMaxWebSocketPayload)
                                                     : kMaxWebSocketPayload;
    if (frame.length > limit) return 255;
    size_t length = static_cast<size_t>(frame.length);
    payload.clear();
    size_t got = 0;
    while (got < length) {
        size_t step = std::min(kReadStep, length - got);
        payload.resize(got + step);
        if (!read(payload.data() + got, step)) return 255;
        got += step;
    }
    if (frame.masked) ApplyWebSocketMask(payload.data(), payload.size(), frame.mask);
    fin = frame.fin;
    return frame.opcode;
}

uint64_t WebSocketMessageAssembler::ContinuationLimit() const { return kMaxWebSocketPayload - gathered_.size(); }

WebSocketMessageAssembler::Step WebSocketMessageAssembler::Add(uint8_t opcode, bool fin,
                                                               std::vector<uint8_t>& payload,
                                                               WebSocketMessage& msg) {
    switch (opcode) {
        case kWsText:
        case kWsBinary:
            gathered_ = std::move(payload);
            gatheringOpcode_ = opcode;
            if (!fin) return Step::kMore;
            break;
        case kWsContinuation:
            gathered_.insert(gathered_.end(), payload.begin(), payload.end());
            if (!fin) return Step::kMore;
            break;
        case kWsClose:
            msg.opcode = kWsClose;
            msg.closed = 1;
            msg.closeCode = payload.size() >= 2 ? static_cast<uint16_t>((payload[0] << 8) | payload[1]) : 0;
            return Step::kClose;
        case kWsPing:
            return Step::kPing;
        case kWsPong:
            return Step::kMore;
        default:
            return Step::kError;
    }
    msg.opcode = gatheringOpcode_;
    msg.closed = 0;
    msg.closeCode = 0;
    if (gatheringOpcode_ == kWsText) {
        msg.text.assign(gathered_.begin(), gathered_.end());
        msg.data.clear();
    } else {
        msg.data = std::move(gathered_);
        msg.text.clear();
    }
    gathered_.clear();
    gatheringOpcode_ = 255;
    return Step::kMessage;
}

}  // namespace sv
