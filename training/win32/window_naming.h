#pragma once
// How a process's image path becomes the short name reported for its windows.
#include <string>

namespace sv {
namespace training {

// The part after the last backslash or slash, without a trailing ".exe" in any letter
// case unless the name is nothing more than that: "C:\x\App.EXE" gives "App", ".exe"
// stays ".exe".
std::string ImageNameFromPath(const std::string& path);

}  // namespace training
}  // namespace sv
