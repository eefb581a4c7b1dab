#pragma once
// SHA-256 written as 64 lowercase hex digits: the form password hashes, package
// checksums and manifest digests are compared in.
#include <cstddef>
#include <cstdint>
#include <string>

namespace sv {

std::string Sha256Hex(const uint8_t* data, size_t length);
std::string Sha256Hex(const std::string& bytes);

// The 32 raw bytes of a digest as 64 lowercase hex digits.
std::string HexLower(const uint8_t* bytes, size_t length);

}  // namespace sv
