#pragma once
// The identity's files in the data directory and the system's random source:
// host-id.txt and host-ui.json are only ever replaced whole, so a crash leaves
// either the old or the new content, never a torn file.
#include <cstdint>
#include <string>

namespace sv {

// A 32-bit value from the system's cryptographic random source.
uint32_t SystemRandom32();

// The Host ID kept in dataDir\host-id.txt; a missing or malformed file gets a newly
// drawn id written to it (a failed write still returns the new id for this run).
std::string LoadOrCreateHostId(const std::string& dataDir);

// Six characters from the password alphabet, drawn from the system random source.
std::string GeneratePassword();

// dir joined with one file name by a backslash.
std::string JoinDataPath(const std::string& dir, const std::string& name);

// Whether `path` names an existing file (not a directory).
bool IsRegularFile(const std::string& path);

// The whole content of `path`; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& out);

// Writes `bytes` to a temporary file beside `path` and moves it over `path` in one
// step; false (and no temporary left behind) when any step fails.
bool WriteFileAtomically(const std::string& path, const std::string& bytes);

// Creates `dir` and any missing parents; failures are left to the write that follows.
void EnsureDirectory(const std::string& dir);

}  // namespace sv
