#include <winsock2.h>
#include <windows.h>

#include "net/websocket_client.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <random>

#include "base/system_random.h"
#include "net/websocket_frame.h"

namespace sv {

namespace {

// Payloads are read in steps of this size, so a peer that announces a large frame
// and then stalls holds no more memory than it has actually sent.
constexpr size_t kReadStep = 1 << 20;
// The whole opening (TCP, TLS, upgrade reply) ends within this.
constexpr auto kConnectBound = std::chrono::seconds(60);

// Mask words come from the system's strong generator, drawn in batches; every
// connection's senders and Connect draw from it, so the batch is guarded.
class MaskWordSource {
public:
    uint32_t Next() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (next_ == kBatch) Refill();
        return words_[next_++];
    }

private:
    static constexpr size_t kBatch = 64;

    void Refill() {
        if (!SystemRandomFill(reinterpret_cast<uint8_t*>(words_), sizeof(words_))) {
            // Should never happen; masks must still differ from frame to frame.
            std::random_device device;
            for (uint32_t& w : words_) w = device();
        }
        next_ = 0;
    }

    std::mutex mutex_;
    uint32_t words_[kBatch] = {};
    size_t next_ = kBatch;
};

MaskWordSource& MaskSource() {
    static MaskWordSource source;
    return source;
}

}  // namespace

uint32_t NextMaskWord() { return MaskSource().Next(); }

WebSocketClient::WebSocketClient() = default;

WebSocketClient::~WebSocketClient() { Disconnect(); }

bool WebSocketClient::Connect(const std::string& url, const char* caBundlePath, uint32_t receiveTimeoutMs) {
    if (open_.load()) Disconnect();
    WebSocketUrl parts;
    if (!SplitWebSocketUrl(url, parts)) return false;
    host_ = parts.host;
    port_ = parts.port;
    path_ = parts.path;

    stream_.Reset();
    // Connect, handshake and upgrade as a whole are bounded, not just each read.
    stream_.SetDeadline(std::chrono::steady_clock::now() + kConnectBound);
    bool connected = parts.tls ? stream_.ConnectTls(host_.c_str(), port_, caBundlePath)
                               : stream_.ConnectPlainLoopback(host_.c_str(), port_);
    if (!connected) return false;
    stream_.SetReceiveTimeout(receiveTimeoutMs > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX
                                                                                    : static_cast<int32_t>(receiveTimeoutMs));

    uint8_t keyBytes[16];
    for (uint8_t& b : keyBytes) b = static_cast<uint8_t>(NextMaskWord() & 0xFF);
    std::string key = EncodeWebSocketKey(keyBytes);
    if (key.size() != 24) {
        stream_.Close();
        return false;
    }
    std::string request = BuildUpgradeRequest(host_, port_, path_, key);
    if (!stream_.WriteAll(reinterpret_cast<const unsigned char*>(request.data()), request.size())) {
        stream_.Close();
        return false;
    }
    // One byte at a time: nothing after the blank line (the first frames) is consumed.
    std::string head;
    while (head.size() < kMaxUpgradeReplyHead && !UpgradeReplyHeadComplete(head)) {
        unsigned char c;
        if (stream_.Read(&c, 1) != 1) {
            stream_.Close();
            return false;
        }
        head.push_back(static_cast<char>(c));
    }
    if (!CheckUpgradeReply(head, ComputeWebSocketAccept(key))) {
        stream_.Close();
        return false;
    }
    stream_.SetDeadline(std::chrono::steady_clock::time_point::max());
    open_.store(true);
    return true;
}

uint8_t WebSocketClient::ReadFrame(std::vector<uint8_t>& payload, bool& fin) {
    return ReadFrameWithin(payload, fin, kMaxWebSocketPayload);
}

uint8_t WebSocketClient::ReadFrameWithin(std::vector<uint8_t>& payload, bool& fin, uint64_t continuationLimit) {
    uint8_t head[14];
    if (!stream_.ReadExact(head, 2)) return 255;
    size_t headSize = WebSocketFrameHeadSize(head[0], head[1]);
    if (headSize > 2 && !stream_.ReadExact(head + 2, headSize - 2)) return 255;
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
        if (!stream_.ReadExact(payload.data() + got, step)) return 255;
        got += step;
    }
    if (frame.masked) ApplyWebSocketMask(payload.data(), payload.size(), frame.mask);
    fin = frame.fin;
    return frame.opcode;
}

int WebSocketClient::ReceiveMessage(WebSocketMessage& msg) {
    std::vector<uint8_t> gathered;
    uint8_t gatheringOpcode = 255;  // none: a lone final continuation comes back as 255
    for (;;) {
        std::vector<uint8_t> payload;
        bool fin = false;
        uint8_t opcode = ReadFrameWithin(payload, fin, kMaxWebSocketPayload - gathered.size());
        switch (opcode) {
            case kWsText:
            case kWsBinary:
                if (!fin) {
                    gathered = std::move(payload);
                    gatheringOpcode = opcode;
                    continue;
                }
                gathered = std::move(payload);
                gatheringOpcode = opcode;
                break;
            case kWsContinuation:
                gathered.insert(gathered.end(), payload.begin(), payload.end());
                if (!fin) continue;
                break;
            case kWsClose: {
                msg.opcode = kWsClose;
                msg.closed = 1;
                msg.closeCode = payload.size() >= 2 ? static_cast<uint16_t>((payload[0] << 8) | payload[1]) : 0;
                std::lock_guard<std::mutex> lock(sendMutex_);
                if (open_.load()) WriteFrame(kWsClose, payload.data(), payload.size());
                return 1;
            }
            case kWsPing: {
                std::lock_guard<std::mutex> lock(sendMutex_);
                if (open_.load()) WriteFrame(kWsPong, payload.data(), payload.size());
                continue;
            }
            case kWsPong:
                continue;
            default:
                return 2;
        }
        msg.opcode = gatheringOpcode;
        msg.closed = 0;
        msg.closeCode = 0;
        if (gatheringOpcode == kWsText) {
            msg.text.assign(gathered.begin(), gathered.end());
            msg.data.clear();
        } else {
            msg.data = std::move(gathered);
            msg.text.clear();
        }
        return 0;
    }
}

bool WebSocketClient::WriteFrame(uint8_t opcode, const uint8_t* data, size_t length) {
    std::vector<uint8_t> frame = EncodeClientFrame(opcode, data, length, NextMaskWord());
    return stream_.WriteAll(frame.data(), frame.size());
}

bool WebSocketClient::SendText(const std::string& text) {
    std::lock_guard<std::mutex> lock(sendMutex_);
    if (!open_.load()) return false;
    return WriteFrame(kWsText, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

bool WebSocketClient::SendBinary(const uint8_t* data, size_t length) {
    std::unique_lock<std::mutex> lock(sendMutex_, std::try_to_lock);
    if (!lock.owns_lock() || !open_.load()) return false;
    return WriteFrame(kWsBinary, data, length);
}

void WebSocketClient::Disconnect() {
    std::lock_guard<std::mutex> lock(sendMutex_);
    if (open_.exchange(false)) stream_.Close();
}

void WebSocketClient::AbortSocket() { stream_.AbortSocket(); }

}  // namespace sv
