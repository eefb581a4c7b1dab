#include "base/sha256_hex.h"

#include <gtest/gtest.h>

TEST(Sha256Hex, KnownDigestsInLowerCase) {
    EXPECT_EQ(sv::Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sv::Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const uint8_t zeros[3] = {0, 0, 0};
    EXPECT_EQ(sv::Sha256Hex(zeros, 3), "709e80c88487a2411e1ee4dfb9f22a861492d20c4765150c0c794abd70f8147c");
}
