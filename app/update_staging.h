#pragma once
// Writing a verified update package into the staging folder, and the running program's
// own path.
#include <cstdint>
#include <string>
#include <vector>

namespace sv {

// Verifies `package` (app/update_package.h) and, only when all of it passes, replaces
// the staging folder with exactly its files. Any failed write removes the folder again,
// so a partly written package is never left to be applied. True when written whole.
bool UnpackVerifiedUpdate(const std::vector<uint8_t>& package, const std::string& stagingDir,
                          const std::string& keyBase64);

// The full path of the running program, UTF-8.
std::string GetOwnExePath();

}  // namespace sv
