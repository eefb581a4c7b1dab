#include <gtest/gtest.h>

#include "training/clip_base64.h"

namespace {

using sv::training::Base64Decode;

std::string Text(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

TEST(ClipBase64, LenientAboutWhiteSpaceAndPaddingStrictAboutTheAlphabet) {
    struct Case {
        const char* in;
        std::string want;
    } cases[] = {
        {"aGVsbG8=", "hello"},
        {"aGVsbG8", "hello"},                  // padding not required
        {"aGVs\r\nbG8 =\t", "hello"},           // white space anywhere
        {"aGVsbG8=*garbage*", "hello"},        // decoding stops at the first "="
        {"aGVsbG8*", ""},                      // anything else spoils it all
        {"aGVs-bG8", ""},                      // URL alphabet is not accepted
        {"YQ", "a"},                           // leftover bits are dropped
        {"Y", ""},
        {"=aGVs", ""},
        {" \n", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(Text(Base64Decode(c.in)), c.want) << c.in;
    std::vector<uint8_t> all = Base64Decode("+/8A");
    EXPECT_EQ(all, (std::vector<uint8_t>{0xFB, 0xFF, 0x00}));
}

}  // namespace
