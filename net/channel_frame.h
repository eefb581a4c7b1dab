#pragma once
// Sealing and opening of LAN channel frames, without sockets:
//   u32 length L (big-endian) | u8 type | 12-byte nonce | L bytes AES-256-GCM ciphertext | 16-byte tag
// The nonce is the sender's role byte, three zero bytes and the sender's frame
// counter (u64 big-endian); the type byte is the additional authenticated data.
// One key serves both directions; the role byte keeps their nonces apart.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mbedtls/gcm.h"

namespace sv {

constexpr size_t kFrameHeaderBytes = 5;
constexpr size_t kFrameNonceBytes = 12;
constexpr size_t kFrameTagBytes = 16;
constexpr uint32_t kMaxFramePayload = 0x2000000;  // 32 MiB
constexpr uint8_t kFrameTypeText = 0;
constexpr uint8_t kFrameTypeBinary = 1;
constexpr uint8_t kRoleClient = 0;
constexpr uint8_t kRoleHost = 1;

// The texts the channel's reader throws with.
constexpr char kFrameErrorImplausibleLength[] = "implausible frame length";
constexpr char kFrameErrorTruncated[] = "truncated frame";
constexpr char kFrameErrorOutOfSequence[] = "out-of-sequence frame (replay?)";
constexpr char kFrameErrorTagMismatch[] = "authentication tag mismatch";

enum class FrameOpenResult {
    kOk,
    kUnkeyed,
    kImplausibleLength,  // fatal
    kTruncated,          // the bytes end inside the frame
    kOutOfSequence,      // fatal: wrong role byte or counter
    kTagMismatch,        // fatal
};

// Reads L and the type byte from the first 5 bytes of a frame.
void ParseFrameHeader(const uint8_t* header, uint32_t& length, uint8_t& type);

// One direction pair's cipher state: the key, the own role and both counters.
// Seal and Open may run at the same time on two threads; the owner serialises
// Seal, and only one reader calls Open.
class ChannelFrameCipher {
public:
    ChannelFrameCipher(const std::vector<uint8_t>& key, uint8_t role);
    ~ChannelFrameCipher();
    ChannelFrameCipher(const ChannelFrameCipher&) = delete;
    ChannelFrameCipher& operator=(const ChannelFrameCipher&) = delete;

    bool IsKeyed() const { return keyed_; }
    uint8_t Role() const { return role_; }
    uint64_t SendCounter() const { return sendCounter_; }
    uint64_t RecvCounter() const { return recvCounter_; }

    // Builds one whole frame. False (counter unchanged) when unkeyed, when the
    // payload is larger than the frame limit, or when sealing fails.
    bool Seal(const std::vector<uint8_t>& payload, uint8_t type, std::vector<uint8_t>& frame);

    // Checks and decrypts the parts of one frame; the receive counter advances
    // only on kOk.
    FrameOpenResult Open(uint8_t type, const uint8_t* nonce, const uint8_t* ciphertext, size_t length,
                         const uint8_t* tag, std::vector<uint8_t>& payload);

    // Opens the first frame held in `bytes`; `consumed` is its size on kOk.
    FrameOpenResult OpenBuffer(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& payload, bool& binary,
                               size_t& consumed);

private:
    // One context per direction, both under the same key: a GCM context keeps the
    // state of the operation in progress, so the sender's seal and the reader's
    // open must never share one.
    mbedtls_gcm_context sealGcm_;
    mbedtls_gcm_context openGcm_;
    bool keyed_ = false;
    uint8_t role_;
    uint8_t peerRole_;
    uint64_t sendCounter_ = 0;
    uint64_t recvCounter_ = 0;
};

// The error text for a failed open (empty for kOk and kUnkeyed).
const char* FrameOpenErrorText(FrameOpenResult result);

}  // namespace sv
