#include "base/sha256_hex.h"

#include "mbedtls/sha256.h"

namespace sv {

std::string HexLower(const uint8_t* bytes, size_t length) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        out.push_back(kHex[bytes[i] >> 4]);
        out.push_back(kHex[bytes[i] & 0x0F]);
    }
    return out;
}

std::string Sha256Hex(const uint8_t* data, size_t length) {
    uint8_t digest[32];
    mbedtls_sha256(data, length, digest, 0);
    return HexLower(digest, sizeof(digest));
}

std::string Sha256Hex(const std::string& bytes) {
    return Sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace sv
