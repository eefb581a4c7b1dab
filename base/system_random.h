#pragma once
// The operating system's strong random source. Every secret the host draws
// (SRP exponents, salts, ticket material) comes from here: a predictable or
// repeated value would repeat session keys and with them AES-GCM nonces.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace sv {

// Fills `out` with n bytes; false when the source failed (the buffer is then
// unusable and the caller must refuse whatever it was about to do).
bool SystemRandomFill(uint8_t* out, size_t n);

// Source of random bytes as a value, so pure code can be driven by a fixed
// sequence in tests and by SystemRandomFill in the product.
using RandomFill = std::function<bool(uint8_t* out, size_t n)>;

// The default RandomFill: SystemRandomFill.
const RandomFill& SystemRandom();

}  // namespace sv
