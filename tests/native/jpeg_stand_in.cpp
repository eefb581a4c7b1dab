// The native build has no GDI+: the tile encoder's default codec reports that no
// JPEG could be made, which its callers already handle. Tests hand in their own codec.
#include <cstdint>
#include <vector>

namespace sv {

std::vector<uint8_t> EncodeJpegFrame(const uint8_t*, int32_t, int32_t, uint32_t) { return {}; }

std::vector<uint8_t> EncodeJpegRect(const uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, uint32_t) {
    return {};
}

}  // namespace sv
