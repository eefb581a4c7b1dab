#pragma once
// SRP-6a password proof for LAN direct: the 3072-bit group of RFC 5054 with
// g = 5, SHA-256 and the identity "sorvane-lan". Pure arithmetic over bytes: no
// sockets, no Windows headers. Refusals are empty results, never exceptions.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/system_random.h"

namespace sv {

// The salt and the password travel as distinct types: the two are easy to swap
// at a call site and a swapped pair would silently produce a verifier nobody can
// match. Neither converts implicitly, so only SrpSalt{...}, SrpPassword{...} compile.
struct SrpSalt {
    explicit SrpSalt(std::vector<uint8_t> value) : bytes(std::move(value)) {}
    std::vector<uint8_t> bytes;
};

struct SrpPassword {
    explicit SrpPassword(std::string value) : text(std::move(value)) {}
    std::string text;  // UTF-8, used as it is
};

constexpr size_t kSrpNumberBytes = 384;  // every number sent or stored
constexpr size_t kSrpHashBytes = 32;
constexpr char kSrpIdentity[] = "sorvane-lan";

// Host side of one handshake.
struct SrpServerState {
    explicit SrpServerState(std::vector<uint8_t> saltBytes) : salt(std::move(saltBytes)) {}
    std::vector<uint8_t> salt;
    std::vector<uint8_t> verifier;  // v, 384 bytes
    std::vector<uint8_t> b;         // secret exponent, 384 bytes
    std::vector<uint8_t> B;         // public value, 384 bytes
    std::vector<uint8_t> K;         // session key, 32 bytes once the proof passed
    uint8_t bReady = 0;
};

// Client side (the self-test and the test peers play it).
struct SrpClientState {
    std::vector<uint8_t> A;   // 384
    std::vector<uint8_t> M1;  // 32
    std::vector<uint8_t> S;   // 384
    std::vector<uint8_t> K;   // 32
    uint8_t ready = 0;
};

// The prime N, 384 bytes big-endian.
const std::vector<uint8_t>& SrpGroupPrime();

// v brought to exactly `length` bytes: zeros on the left, or only its last bytes.
std::vector<uint8_t> SrpPad(const std::vector<uint8_t>& v, size_t length = kSrpNumberBytes);

// SHA-256 of the bytes.
std::vector<uint8_t> Sha256Buffer(const std::vector<uint8_t>& data);

// The session-key hash: H(T), T = H(data) without its leading zero bytes.
std::vector<uint8_t> Sha256Bytes(const std::vector<uint8_t>& data);

// x = H(salt || H("sorvane-lan:" || password)), 32 bytes.
std::vector<uint8_t> SrpComputeX(const SrpSalt& salt, const SrpPassword& password);

// H(PAD(a) || PAD(b) || PAD(c)).
std::vector<uint8_t> SrpHashPadded(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                                   const std::vector<uint8_t>& c);

// k = H(N || PAD(g)), 32 bytes.
std::vector<uint8_t> SrpMultiplier();

// A secret exponent in 1..N-2 as 384 bytes; empty when the random source failed.
std::vector<uint8_t> SrpRandomExponent(const RandomFill& random = SystemRandom());

// v = g^x mod N, 384 bytes; empty on an arithmetic failure.
std::vector<uint8_t> SrpMakeVerifier(const SrpSalt& salt, const SrpPassword& password);

// 32 random bytes for salts; empty when the random source failed.
std::vector<uint8_t> RandomBytes32(const RandomFill& random = SystemRandom());

// Draws b and returns B (384 bytes); empty when anything failed (then
// SrpServerFinish refuses every proof).
std::vector<uint8_t> SrpServerStart(SrpServerState& state, const std::vector<uint8_t>& verifier,
                                    const RandomFill& random = SystemRandom());

// Whether a public value (A from a client, B from a host) may enter the arithmetic:
// at most 384 bytes, above 0 and below N. The hashes see only a value's last 384
// bytes while the arithmetic uses all of it, so a longer value would let whoever holds
// only the verifier pick its upper bytes to cancel the verifier's term.
bool SrpPublicValueAcceptable(const std::vector<uint8_t>& value);

// Checks the client's M1 and returns M2 (32 bytes) with state.K set, or an empty
// result with no key: before SrpServerStart, for an A that SrpPublicValueAcceptable
// refuses, a shared secret of zero, any arithmetic failure, or a wrong proof.
std::vector<uint8_t> SrpServerFinish(SrpServerState& state, const std::vector<uint8_t>& A,
                                     const std::vector<uint8_t>& M1);

// Computes A and M1 for (password, B, salt) and keeps A, M1, S and K in the
// state; both results are empty when SrpPublicValueAcceptable refuses B or anything
// failed.
std::pair<std::vector<uint8_t>, std::vector<uint8_t>> SrpClientCompute(SrpClientState& state,
                                                                        const SrpPassword& password,
                                                                        const std::vector<uint8_t>& B,
                                                                        const SrpSalt& salt,
                                                                        const RandomFill& random = SystemRandom());

// True when M2 is the host's proof for this client's A, M1 and S.
bool SrpClientCheckM2(const SrpClientState& state, const std::vector<uint8_t>& M2);

// Equal after dropping leading zero bytes; the time taken depends only on the
// two lengths. An empty proof never matches.
bool SrpProofsEqual(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

// Hex text to bytes: an odd length gets a leading '0'; a pair that is not hex
// reads as far as its leading hex digits go (0 when none).
std::vector<uint8_t> HexToBytes(const std::string& hex);
std::string BytesToHex(const std::vector<uint8_t>& bytes);

}  // namespace sv
