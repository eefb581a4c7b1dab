#include "training/win32/overlay_color.h"

#include <cctype>
#include <map>

namespace sv {
namespace training {
namespace {

const std::map<std::string, uint32_t>& NamedColors() {
    static const std::map<std::string, uint32_t> names = {
        {"red", 0xEF4444},    {"green", 0x22C55E},   {"blue", 0x2563EB},  {"orange", 0xF97316},
        {"amber", 0xF59E0B},  {"yellow", 0xEAB308},  {"purple", 0x9333EA}, {"pink", 0xEC4899},
        {"white", 0xFFFFFF},  {"black", 0x000000},   {"gray", 0x6B7280},  {"grey", 0x6B7280},
        {"cyan", 0x06B6D4},   {"teal", 0x14B8A6},    {"lime", 0x84CC16},  {"magenta", 0xD946EF},
        {"gold", 0xFFD700},   {"navy", 0x1E3A8A},
    };
    return names;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

uint32_t ParseOverlayColor(const std::string& text, uint32_t fallback) {
    std::string t;
    for (unsigned char c : text) {
        if (!std::isspace(c)) t.push_back(static_cast<char>(std::tolower(c)));
    }
    if (t.empty()) return fallback;
    if (t[0] == '#') {
        // Every character after "#" must be a hex digit: "#12zz56" is not a colour.
        uint32_t value = 0;
        for (size_t i = 1; i < t.size(); ++i) {
            int d = HexDigit(t[i]);
            if (d < 0) return fallback;
            value = (value << 4) | static_cast<uint32_t>(d);
        }
        switch (t.size()) {
            case 7:
                return 0xFF000000u | value;
            case 9:
                return value;
            case 4: {
                uint32_t r = (value >> 8) & 0xF, g = (value >> 4) & 0xF, b = value & 0xF;
                return 0xFF000000u | (r * 17) << 16 | (g * 17) << 8 | (b * 17);
            }
            default:
                return fallback;  // also "#" alone and anything longer than eight digits
        }
    }
    auto it = NamedColors().find(t);
    return it == NamedColors().end() ? fallback : (0xFF000000u | it->second);
}

uint32_t DefaultOverlayColor(const std::string& kind) {
    if (kind == "stroke" || kind == "ellipse") return kOverlayRed;
    if (kind == "ghost") return kOverlayBlue;
    return kOverlayAmber;
}

}  // namespace training
}  // namespace sv
