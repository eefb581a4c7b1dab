#pragma once
// The identity's file in the data directory and the system's random source:
// host-id.txt is only ever replaced whole, so a crash leaves either the old or the
// new content, never a torn file.
#include <cstdint>
#include <string>

namespace sv {

// A 32-bit value from the system's cryptographic random source.
uint32_t SystemRandom32();

// The Host ID kept in dataDir\host-id.txt; a missing or malformed file gets a newly
// drawn id written to it. A failed write still returns the new id for this run, and puts
// "<file>: <why>" into `notStored` when given.
std::string LoadOrCreateHostId(const std::string& dataDir, std::string* notStored = nullptr);

// Six characters from the password alphabet, drawn from the system random source.
std::string GeneratePassword();

// The password kept in dataDir\host-ui.json; a file without one gets a new password
// merged in (a missing or unparsable file is written whole). A file that exists but
// cannot be read right now is left alone and the new password serves this run only.
// A password that is not on disk afterwards puts "<file>: <why>" into `notStored`.
std::string LoadOrCreatePassword(const std::string& dataDir, std::string* notStored = nullptr);

}  // namespace sv
