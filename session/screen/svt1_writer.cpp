#include "session/screen/svt1_writer.h"

namespace sv {

void AppendU16Le(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

void AppendU32Le(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 16) & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 24) & 0xFF));
}

void BeginSvt1Frame(std::vector<uint8_t>& out, uint32_t seq, int32_t width, int32_t height, bool whole,
                    size_t count) {
    out.clear();
    for (char c : {'S', 'V', 'T', '1'}) out.push_back(static_cast<uint8_t>(c));
    AppendU32Le(out, seq);
    AppendU16Le(out, static_cast<uint16_t>(width));
    AppendU16Le(out, static_cast<uint16_t>(height));
    out.push_back(whole ? 1 : 0);
    AppendU16Le(out, static_cast<uint16_t>(count));
}

size_t BeginSvt1Rect(std::vector<uint8_t>& out, const TileRect& r) {
    AppendU16Le(out, static_cast<uint16_t>(r.x));
    AppendU16Le(out, static_cast<uint16_t>(r.y));
    AppendU16Le(out, static_cast<uint16_t>(r.w));
    AppendU16Le(out, static_cast<uint16_t>(r.h));
    const size_t at = out.size();
    AppendU32Le(out, 0);
    return at;
}

bool EndSvt1Rect(std::vector<uint8_t>& out, size_t lengthAt) {
    const uint64_t length = out.size() - (lengthAt + 4);
    if (length > 0xFFFFFFFFu) {
        out.resize(lengthAt + 4);
        return false;
    }
    for (int i = 0; i < 4; ++i) out[lengthAt + i] = static_cast<uint8_t>((length >> (8 * i)) & 0xFF);
    return true;
}

}  // namespace sv
