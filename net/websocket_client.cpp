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

// The whole opening (TCP, TLS, upgrade reply) ends within this.
constexpr auto kConnectBound = std::chrono::seconds(60);

// Mask words come from the system's strong generator, drawn in batches; every
// connection's senders and Connect draw from it, so the batch is guarded.
class MaskWordSource {
public:
    uint32_t Next() {
        MutexLock lock(mutex_);
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

    Mutex mutex_;
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

bool WebSocketClient::Connect(const std::string& url, const char* caBundlePath, uint32_t receiveTimeoutMs,
                              const std::function<bool()>& abandoned) {
    if (open_.load()) Disconnect();
    lastFailure_ = ConnectFailure::BadAddress;
    WebSocketUrl parts;
    if (!SplitWebSocketUrl(url, parts)) return false;
    host_ = parts.host;
    port_ = parts.port;
    path_ = parts.path;

    stream_.Reset();
    // The fresh start clears the stream's abort; one made for good, or one whose owner has
    // abandoned this connect, is made again, so the connect below sees it at its first
    // step. AbortForGood sets the flag (an owner its reason) before it aborts: either it
    // is found here, or the abort comes after the reset.
    if (abortedForGood_.load() || (abandoned && abandoned())) stream_.AbortSocket();
    {
        MutexLock lock(sendMutex_);
        closeSent_ = false;
    }
    {
        MutexLock lock(endMutex_);
        receiveEnded_ = false;
    }
    // Connect, handshake and upgrade as a whole are bounded, not just each read.
    stream_.SetDeadline(std::chrono::steady_clock::now() + kConnectBound);
    bool connected = parts.tls ? stream_.ConnectTls(host_.c_str(), port_, caBundlePath)
                               : stream_.ConnectPlainLoopback(host_.c_str(), port_);
    if (!connected) {
        lastFailure_ = stream_.LastConnectFailure();
        return false;
    }
    stream_.SetReceiveTimeout(receiveTimeoutMs > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX
                                                                                    : static_cast<int32_t>(receiveTimeoutMs));
    // From here on a failure closes the stream; the abort flag outlives the close.
    auto fail = [this](ConnectFailure why) {
        lastFailure_ = stream_.WasAborted() ? ConnectFailure::Aborted : why;
        stream_.Close();
        return false;
    };

    uint8_t keyBytes[16];
    for (uint8_t& b : keyBytes) b = static_cast<uint8_t>(NextMaskWord() & 0xFF);
    std::string key = EncodeWebSocketKey(keyBytes);
    if (key.size() != 24) return fail(ConnectFailure::TlsFailed);
    std::string request = BuildUpgradeRequest(host_, port_, path_, key);
    if (!stream_.WriteAll(reinterpret_cast<const unsigned char*>(request.data()), request.size())) {
        return fail(ConnectFailure::ClosedByPeer);
    }
    // One byte at a time: nothing after the blank line (the first frames) is consumed.
    std::string head;
    while (head.size() < kMaxUpgradeReplyHead && !UpgradeReplyHeadComplete(head)) {
        unsigned char c;
        const int got = stream_.Read(&c, 1);
        if (got != 1) {
            return fail(got == MBEDTLS_ERR_SSL_TIMEOUT ? ConnectFailure::HandshakeTimedOut
                                                       : ConnectFailure::ClosedByPeer);
        }
        head.push_back(static_cast<char>(c));
    }
    if (!CheckUpgradeReply(head, ComputeWebSocketAccept(key))) return fail(ConnectFailure::UpgradeRefused);
    stream_.SetDeadline(std::chrono::steady_clock::time_point::max());
    lastFailure_ = ConnectFailure::None;
    open_.store(true);
    return true;
}

uint8_t WebSocketClient::ReadFrame(std::vector<uint8_t>& payload, bool& fin) {
    return ReadFrameWithin(payload, fin, kMaxWebSocketPayload);
}

uint8_t WebSocketClient::ReadFrameWithin(std::vector<uint8_t>& payload, bool& fin, uint64_t continuationLimit) {
    return ReadWebSocketFrame([this](uint8_t* p, size_t n) { return stream_.ReadExact(p, n); }, payload, fin,
                              continuationLimit);
}

int WebSocketClient::ReceiveMessage(WebSocketMessage& msg) {
    WebSocketMessageAssembler assembler;
    for (;;) {
        std::vector<uint8_t> payload;
        bool fin = false;
        uint8_t opcode = ReadFrameWithin(payload, fin, assembler.ContinuationLimit());
        switch (assembler.Add(opcode, fin, payload, msg)) {
            case WebSocketMessageAssembler::Step::kMore:
                continue;
            case WebSocketMessageAssembler::Step::kMessage:
                return 0;
            case WebSocketMessageAssembler::Step::kClose: {
                {
                    MutexLock lock(sendMutex_);
                    if (open_.load() && !closeSent_) WriteFrame(kWsClose, payload.data(), payload.size());
                }
                NoteReceiveEnded();
                return 1;
            }
            case WebSocketMessageAssembler::Step::kPing: {
                MutexLock lock(sendMutex_);
                if (open_.load()) WriteFrame(kWsPong, payload.data(), payload.size());
                continue;
            }
            case WebSocketMessageAssembler::Step::kError:
                NoteReceiveEnded();
                return 2;
        }
        NoteReceiveEnded();
        return 2;
    }
}

bool WebSocketClient::WriteFrame(uint8_t opcode, const uint8_t* data, size_t length) {
    std::vector<uint8_t> frame = EncodeClientFrame(opcode, data, length, NextMaskWord());
    return stream_.WriteAll(frame.data(), frame.size());
}

bool WebSocketClient::SendText(const std::string& text) {
    MutexLock lock(sendMutex_);
    if (!open_.load()) return false;
    return WriteFrame(kWsText, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

bool WebSocketClient::SendBinary(const uint8_t* data, size_t length) {
    // A frame that would wait behind another send is dropped: the stream sends the next.
    if (!sendMutex_.TryLock()) return false;
    const bool sent = open_.load() && WriteFrame(kWsBinary, data, length);
    sendMutex_.Unlock();
    return sent;
}

void WebSocketClient::Disconnect() {
    MutexLock lock(sendMutex_);
    if (open_.exchange(false)) stream_.Close();
}

void WebSocketClient::AbortSocket() { stream_.AbortSocket(); }

void WebSocketClient::NoteReceiveEnded() {
    {
        MutexLock lock(endMutex_);
        receiveEnded_ = true;
    }
    ended_.NotifyAll();
}

void WebSocketClient::Close(uint16_t code, std::chrono::milliseconds answerWait) {
    // A send under way toward a peer that does not read (a stream frame into full
    // buffers) holds the send lock for its whole write bound: the close frame and its
    // answer get `answerWait` in all, after which every wait on the stream ends.
    if (open_.load()) stream_.SetDeadline(std::chrono::steady_clock::now() + answerWait);
    bool sent = false;
    {
        MutexLock lock(sendMutex_);
        if (open_.load() && !closeSent_) {
            const uint8_t payload[2] = {static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code & 0xFF)};
            closeSent_ = true;
            sent = WriteFrame(kWsClose, payload, sizeof(payload));
        }
    }
    if (sent) {
        MutexLock lock(endMutex_);
        ended_.WaitFor(lock, answerWait, [this]() SV_REQUIRES(endMutex_) { return receiveEnded_; });
    }
    stream_.AbortSocket();
}

void WebSocketClient::AbortForGood() {
    abortedForGood_.store(true);
    stream_.AbortSocket();
}

}  // namespace sv
