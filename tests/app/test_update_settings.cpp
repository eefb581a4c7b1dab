#include "app/update_settings.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace {

// The test programs link the release program's settings object. The update-test
// program's environment seam must not reach it: a release that took its update endpoint
// or key from the environment would install whatever a local account signed.
TEST(UpdateSettings, TheReleaseSettingsIgnoreTheUpdateTestEnvironment) {
    const std::string base = sv::BuiltInUpdateApiBase();
    const std::string key = sv::BuiltInUpdateSigningKey();
    ASSERT_EQ(_putenv_s("SV_TEST_UPDATE_API_BASE", "https://127.0.0.1:9"), 0);
    ASSERT_EQ(_putenv_s("SV_TEST_UPDATE_SIGNING_KEY", "bm90IGEga2V5"), 0);
    EXPECT_EQ(sv::BuiltInUpdateApiBase(), base);
    EXPECT_EQ(sv::BuiltInUpdateSigningKey(), key);
    _putenv_s("SV_TEST_UPDATE_API_BASE", "");
    _putenv_s("SV_TEST_UPDATE_SIGNING_KEY", "");
}

}  // namespace
