#include "training/clip_base64.h"

namespace sv {
namespace training {

namespace {

int SextetOf(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::vector<uint8_t> Base64Decode(const std::string& text) {
    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3 + 3);
    uint32_t bits = 0;
    int held = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == '=') break;
        int v = SextetOf(c);
        if (v < 0) return {};
        bits = ((bits << 6) | static_cast<uint32_t>(v)) & 0xFFFFFFu;
        held += 6;
        if (held >= 8) {
            held -= 8;
            out.push_back(static_cast<uint8_t>(bits >> held));
        }
    }
    return out;
}

}  // namespace training
}  // namespace sv
