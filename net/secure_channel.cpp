#include "net/secure_channel.h"

#include <climits>
#include <stdexcept>

namespace sv {

namespace {

// Reads exactly n bytes. With a dead flag, it waits for data in short slices and gives
// up once the flag is set: a shutdown() from another thread does not wake a recv()
// blocked on the same socket everywhere (Wine does not).
bool ReceiveBytes(SOCKET s, uint8_t* buf, size_t n, const std::atomic<uint8_t>* dead) {
    while (n > 0) {
        if (dead) {
            if (dead->load()) return false;
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(s, &readable);
            timeval slice{0, 250000};
            int ready = select(0, &readable, nullptr, nullptr, &slice);
            if (ready < 0) return false;
            if (ready == 0) continue;
        }
        int chunk = n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
        int got = recv(s, reinterpret_cast<char*>(buf), chunk, 0);
        if (got < 1) return false;
        buf += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

}  // namespace

bool RecvExact(SOCKET s, uint8_t* buf, size_t n) { return ReceiveBytes(s, buf, n, nullptr); }

bool SendAll(SOCKET s, const uint8_t* buf, size_t n) {
    while (n > 0) {
        int chunk = n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
        int sent = send(s, reinterpret_cast<const char*>(buf), chunk, 0);
        if (sent < 1) return false;
        buf += sent;
        n -= static_cast<size_t>(sent);
    }
    return true;
}

bool SecureChannel::RecvWhileAlive(SOCKET s, uint8_t* buf, size_t n) { return ReceiveBytes(s, buf, n, &dead_); }

SecureChannel::SecureChannel(SOCKET socket, const std::vector<uint8_t>& key, uint8_t role)
    : socket_(socket), cipher_(key, role) {}

SecureChannel::~SecureChannel() { Close(); }

void SecureChannel::MarkDeadAndShutdown() {
    dead_.store(1);
    SOCKET s = socket_.load();
    if (s != INVALID_SOCKET) shutdown(s, SD_BOTH);
}

bool SecureChannel::SendFrame(const std::vector<uint8_t>& payload, uint8_t type) {
    MutexLock lock(sendMutex_);
    if (dead_.load() || !cipher_.IsKeyed()) return false;
    std::vector<uint8_t> frame;
    if (!cipher_.Seal(payload, type, frame)) return false;
    SOCKET s = socket_.load();
    if (s == INVALID_SOCKET || !SendAll(s, frame.data(), frame.size())) {
        MarkDeadAndShutdown();
        return false;
    }
    return true;
}

bool SecureChannel::ReceiveFrame(std::vector<uint8_t>& payload, bool& binary) {
    if (dead_.load() || !cipher_.IsKeyed()) return false;
    SOCKET s = socket_.load();
    if (s == INVALID_SOCKET) return false;
    uint8_t header[kFrameHeaderBytes];
    if (!RecvWhileAlive(s, header, sizeof header)) return false;
    uint32_t length = 0;
    uint8_t type = 0;
    ParseFrameHeader(header, length, type);
    if (length > kMaxFramePayload) {
        dead_.store(1);
        throw std::runtime_error(kFrameErrorImplausibleLength);
    }
    uint8_t nonce[kFrameNonceBytes];
    uint8_t tag[kFrameTagBytes];
    std::vector<uint8_t> body(length);
    if (!RecvWhileAlive(s, nonce, sizeof nonce) || !RecvWhileAlive(s, body.data(), body.size()) ||
        !RecvWhileAlive(s, tag, sizeof tag)) {
        throw std::runtime_error(kFrameErrorTruncated);
    }
    std::vector<uint8_t> plain;
    FrameOpenResult result = cipher_.Open(type, nonce, body.data(), body.size(), tag, plain);
    if (result == FrameOpenResult::kUnkeyed) return false;
    if (result != FrameOpenResult::kOk) {
        dead_.store(1);
        throw std::runtime_error(FrameOpenErrorText(result));
    }
    binary = (type == kFrameTypeBinary);
    payload.swap(plain);
    return true;
}

void SecureChannel::Shutdown() { MarkDeadAndShutdown(); }

void SecureChannel::Close() {
    // Shut down first so a sender blocked in send() lets go of the mutex.
    MarkDeadAndShutdown();
    MutexLock lock(sendMutex_);
    SOCKET s = socket_.exchange(INVALID_SOCKET);
    if (s != INVALID_SOCKET) closesocket(s);
}

}  // namespace sv
