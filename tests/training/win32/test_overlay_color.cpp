#include <gtest/gtest.h>

#include "training/win32/overlay_color.h"

namespace {

using sv::training::ParseOverlayColor;

TEST(OverlayColor, TextsAndDefaults) {
    const uint32_t fallback = 0xFF123456;
    struct Case {
        const char* text;
        uint32_t want;
    } cases[] = {
        {" Red ", 0xFFEF4444},        // names ignore white space and case
        {"GREY", 0xFF6B7280},
        {"#0f0", 0xFF00FF00},         // three digits, each doubled
        {"#FFAA00", 0xFFFFAA00},      // six digits are opaque
        {"#80ff0000", 0x80FF0000},    // eight digits carry their own alpha
        {" # f f 0 0 0 0", 0xFFFF0000},
        {"#12345", fallback},         // five digits
        {"#123456789", fallback},     // beyond 32 bits
        {"#12zz56", fallback},        // a non-hex character after "#"
        {"#ff00zz", fallback},
        {"#-1234", fallback},
        {"#", fallback},
        {"", fallback},
        {"chartreuse", fallback},
        {"red;", fallback},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseOverlayColor(c.text, fallback), c.want) << c.text;
}

}  // namespace
