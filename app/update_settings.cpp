#include "app/update_settings.h"

#include <cstdlib>

// Both values come from the build (SV_UPDATE_API_BASE, SV_UPDATE_SIGNING_KEY). The
// update-test program alone is compiled with SV_UPDATE_SETTINGS_FROM_ENVIRONMENT: the
// end-to-end tests start their own update server and key pair and hand them to it through
// its environment, so it never has to be rebuilt for them. The release program's object
// is compiled without it and has no path that reads a value from outside.

namespace sv {

namespace {

#ifdef SV_UPDATE_SETTINGS_FROM_ENVIRONMENT
const char* Setting(const char* name, const char* built) {
    const char* value = std::getenv(name);
    return value && *value ? value : built;
}
#else
const char* Setting(const char*, const char* built) { return built; }
#endif

}  // namespace

const char* BuiltInUpdateApiBase() { return Setting("SV_TEST_UPDATE_API_BASE", SV_UPDATE_API_BASE); }
const char* BuiltInUpdateSigningKey() { return Setting("SV_TEST_UPDATE_SIGNING_KEY", SV_UPDATE_SIGNING_KEY); }

}  // namespace sv
