#pragma once
// The data folder must take the Host ID, the password and the device record before the
// host hands any of them out: one that cannot be written would make a new identity at
// every start while the person reads out one that is already lost.
#include <string>

namespace sv {

// Makes `dir` (with its missing parents) and writes and removes a probe file in it.
// Empty when that worked, else the reason in words with what to do about it.
std::string DataFolderProblem(const std::string& dir);

// "cannot write the data folder <dir>: <reason>"
std::string DataFolderProblemLine(const std::string& dir, const std::string& reason);

}  // namespace sv
