#include <gtest/gtest.h>

#include "training/clip_base64.h"

namespace {

TEST(ClipBase64, LenientAboutWhiteSpaceAndPaddingStrictAboutTheAlphabet) {
    const std::pair<const char*, std::string> cases[] = {
        {"aGVsbG8", "hello"},              // padding not required
        {"aGVs\r\nbG8 =\t*", "hello"},     // white space anywhere; "=" ends the text
        {"aGVsbG8*", ""},                  // anything else spoils it all
        {"aGVs-bG8", ""},                  // the URL alphabet is not this one
        {"YQ", "a"},                       // leftover bits are dropped
        {"+/8A", std::string("\xFB\xFF\x00", 3)},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> got = sv::training::Base64Decode(c.first);
        EXPECT_EQ(std::string(got.begin(), got.end()), c.second) << c.first;
    }
}

}  // namespace
