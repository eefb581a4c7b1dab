#include "training/input_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(InputRequest, TextPiecesKeepEveryCodePointWhole) {
    using sv::training::TextPieces;
    const std::string e = "é";      // two bytes
    const std::string g = "😀";  // four bytes
    const struct {
        std::string text;
        size_t codePoints;
        std::vector<std::string> pieces;
    } cases[] = {
        {"", 2, {}},
        {"abc", 2, {"ab", "c"}},
        {"abcd", 2, {"ab", "cd"}},
        {e + g + "x", 2, {e + g, "x"}},
        {g + g + g, 1, {g, g, g}},
        {"ab", 0, {"a", "b"}},  // no empty pieces, however it is asked
    };
    for (const auto& c : cases) EXPECT_EQ(TextPieces(c.text, c.codePoints), c.pieces) << c.text;
}

}  // namespace
