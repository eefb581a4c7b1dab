#include "app/update_settings.h"

// A test build names a header that defines both values; release builds get them from
// the build's cache variables.
#ifdef SV_UPDATE_SETTINGS_FILE
#include SV_UPDATE_SETTINGS_FILE
#else
#define SV_BUILT_IN_UPDATE_API_BASE SV_UPDATE_API_BASE
#define SV_BUILT_IN_UPDATE_SIGNING_KEY SV_UPDATE_SIGNING_KEY
#endif

namespace sv {

const char* BuiltInUpdateApiBase() { return SV_BUILT_IN_UPDATE_API_BASE; }
const char* BuiltInUpdateSigningKey() { return SV_BUILT_IN_UPDATE_SIGNING_KEY; }

}  // namespace sv
