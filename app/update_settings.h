#pragma once
// The update API base and the public half of the update signing key, fixed when the
// program is built (CMake cache variables SV_UPDATE_API_BASE and SV_UPDATE_SIGNING_KEY).
// This unit alone holds them, so a build with other values recompiles only it. The
// update-test program takes them from its environment instead (update_settings.cpp).

namespace sv {

const char* BuiltInUpdateApiBase();
// EC P-256 SubjectPublicKeyInfo DER, Base64.
const char* BuiltInUpdateSigningKey();

}  // namespace sv
