#include "net/channel_frame.h"

#include <limits>

namespace sv {
namespace {

void PutU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

void MakeNonce(uint8_t* nonce, uint8_t role, uint64_t counter) {
    nonce[0] = role;
    nonce[1] = nonce[2] = nonce[3] = 0;
    for (int i = 0; i < 8; ++i) nonce[4 + i] = static_cast<uint8_t>(counter >> (56 - 8 * i));
}

uint64_t NonceCounter(const uint8_t* nonce) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | nonce[4 + i];
    return v;
}

}  // namespace

void ParseFrameHeader(const uint8_t* header, uint32_t& length, uint8_t& type) {
    length = (static_cast<uint32_t>(header[0]) << 24) | (static_cast<uint32_t>(header[1]) << 16) |
             (static_cast<uint32_t>(header[2]) << 8) | static_cast<uint32_t>(header[3]);
    type = header[4];
}

ChannelFrameCipher::ChannelFrameCipher(const std::vector<uint8_t>& key, uint8_t role)
    : role_(role), peerRole_(static_cast<uint8_t>(role ^ 1)) {
    mbedtls_gcm_init(&sealGcm_);
    mbedtls_gcm_init(&openGcm_);
    if (key.size() == 32 && mbedtls_gcm_setkey(&sealGcm_, MBEDTLS_CIPHER_ID_AES, key.data(), 256) == 0 &&
        mbedtls_gcm_setkey(&openGcm_, MBEDTLS_CIPHER_ID_AES, key.data(), 256) == 0) {
        keyed_ = true;
    }
}

ChannelFrameCipher::~ChannelFrameCipher() {
    mbedtls_gcm_free(&sealGcm_);
    mbedtls_gcm_free(&openGcm_);
}

bool ChannelFrameCipher::Seal(const std::vector<uint8_t>& payload, uint8_t type, std::vector<uint8_t>& frame) {
    if (!keyed_ || payload.size() > kMaxFramePayload) return false;
    // A wrapped counter would reuse a nonce under the same key.
    if (sendCounter_ == std::numeric_limits<uint64_t>::max()) return false;
    const size_t length = payload.size();
    frame.assign(kFrameHeaderBytes + kFrameNonceBytes + length + kFrameTagBytes, 0);
    uint8_t* header = frame.data();
    uint8_t* nonce = header + kFrameHeaderBytes;
    uint8_t* body = nonce + kFrameNonceBytes;
    uint8_t* tag = body + length;
    PutU32(header, static_cast<uint32_t>(length));
    header[4] = type;
    MakeNonce(nonce, role_, sendCounter_);
    if (mbedtls_gcm_crypt_and_tag(&sealGcm_, MBEDTLS_GCM_ENCRYPT, length, nonce, kFrameNonceBytes, &header[4], 1,
                                  payload.data(), body, kFrameTagBytes, tag) != 0) {
        frame.clear();
        return false;
    }
    ++sendCounter_;
    return true;
}

FrameOpenResult ChannelFrameCipher::Open(uint8_t type, const uint8_t* nonce, const uint8_t* ciphertext,
                                         size_t length, const uint8_t* tag, std::vector<uint8_t>& payload) {
    if (!keyed_) return FrameOpenResult::kUnkeyed;
    if (length > kMaxFramePayload) return FrameOpenResult::kImplausibleLength;
    if (nonce[0] != peerRole_ || NonceCounter(nonce) != recvCounter_) return FrameOpenResult::kOutOfSequence;
    std::vector<uint8_t> plain(length);
    if (mbedtls_gcm_auth_decrypt(&openGcm_, length, nonce, kFrameNonceBytes, &type, 1, tag, kFrameTagBytes, ciphertext,
                                 plain.data()) != 0) {
        return FrameOpenResult::kTagMismatch;
    }
    ++recvCounter_;
    payload.swap(plain);
    return FrameOpenResult::kOk;
}

FrameOpenResult ChannelFrameCipher::OpenBuffer(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& payload,
                                               bool& binary, size_t& consumed) {
    consumed = 0;
    if (!keyed_) return FrameOpenResult::kUnkeyed;
    if (bytes.size() < kFrameHeaderBytes) return FrameOpenResult::kTruncated;
    uint32_t length = 0;
    uint8_t type = 0;
    ParseFrameHeader(bytes.data(), length, type);
    if (length > kMaxFramePayload) return FrameOpenResult::kImplausibleLength;
    const size_t total = kFrameHeaderBytes + kFrameNonceBytes + length + kFrameTagBytes;
    if (bytes.size() < total) return FrameOpenResult::kTruncated;
    const uint8_t* nonce = bytes.data() + kFrameHeaderBytes;
    const uint8_t* body = nonce + kFrameNonceBytes;
    FrameOpenResult result = Open(type, nonce, body, length, body + length, payload);
    if (result == FrameOpenResult::kOk) {
        binary = (type == kFrameTypeBinary);
        consumed = total;
    }
    return result;
}

const char* FrameOpenErrorText(FrameOpenResult result) {
    switch (result) {
        case FrameOpenResult::kImplausibleLength: return kFrameErrorImplausibleLength;
        case FrameOpenResult::kTruncated: return kFrameErrorTruncated;
        case FrameOpenResult::kOutOfSequence: return kFrameErrorOutOfSequence;
        case FrameOpenResult::kTagMismatch: return kFrameErrorTagMismatch;
        default: return "";
    }
}

}  // namespace sv
