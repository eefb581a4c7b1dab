#include "net/srp.h"

#include <algorithm>

#include "mbedtls/bignum.h"
#include "mbedtls/sha256.h"

namespace sv {
namespace {

const uint8_t kPrime3072[kSrpNumberBytes] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xC9, 0x0F, 0xDA, 0xA2, 0x21, 0x68, 0xC2, 0x34, 0xC4, 0xC6,
    0x62, 0x8B, 0x80, 0xDC, 0x1C, 0xD1, 0x29, 0x02, 0x4E, 0x08, 0x8A, 0x67, 0xCC, 0x74, 0x02, 0x0B, 0xBE, 0xA6,
    0x3B, 0x13, 0x9B, 0x22, 0x51, 0x4A, 0x08, 0x79, 0x8E, 0x34, 0x04, 0xDD, 0xEF, 0x95, 0x19, 0xB3, 0xCD, 0x3A,
    0x43, 0x1B, 0x30, 0x2B, 0x0A, 0x6D, 0xF2, 0x5F, 0x14, 0x37, 0x4F, 0xE1, 0x35, 0x6D, 0x6D, 0x51, 0xC2, 0x45,
    0xE4, 0x85, 0xB5, 0x76, 0x62, 0x5E, 0x7E, 0xC6, 0xF4, 0x4C, 0x42, 0xE9, 0xA6, 0x37, 0xED, 0x6B, 0x0B, 0xFF,
    0x5C, 0xB6, 0xF4, 0x06, 0xB7, 0xED, 0xEE, 0x38, 0x6B, 0xFB, 0x5A, 0x89, 0x9F, 0xA5, 0xAE, 0x9F, 0x24, 0x11,
    0x7C, 0x4B, 0x1F, 0xE6, 0x49, 0x28, 0x66, 0x51, 0xEC, 0xE4, 0x5B, 0x3D, 0xC2, 0x00, 0x7C, 0xB8, 0xA1, 0x63,
    0xBF, 0x05, 0x98, 0xDA, 0x48, 0x36, 0x1C, 0x55, 0xD3, 0x9A, 0x69, 0x16, 0x3F, 0xA8, 0xFD, 0x24, 0xCF, 0x5F,
    0x83, 0x65, 0x5D, 0x23, 0xDC, 0xA3, 0xAD, 0x96, 0x1C, 0x62, 0xF3, 0x56, 0x20, 0x85, 0x52, 0xBB, 0x9E, 0xD5,
    0x29, 0x07, 0x70, 0x96, 0x96, 0x6D, 0x67, 0x0C, 0x35, 0x4E, 0x4A, 0xBC, 0x98, 0x04, 0xF1, 0x74, 0x6C, 0x08,
    0xCA, 0x18, 0x21, 0x7C, 0x32, 0x90, 0x5E, 0x46, 0x2E, 0x36, 0xCE, 0x3B, 0xE3, 0x9E, 0x77, 0x2C, 0x18, 0x0E,
    0x86, 0x03, 0x9B, 0x27, 0x83, 0xA2, 0xEC, 0x07, 0xA2, 0x8F, 0xB5, 0xC5, 0x5D, 0xF0, 0x6F, 0x4C, 0x52, 0xC9,
    0xDE, 0x2B, 0xCB, 0xF6, 0x95, 0x58, 0x17, 0x18, 0x39, 0x95, 0x49, 0x7C, 0xEA, 0x95, 0x6A, 0xE5, 0x15, 0xD2,
    0x26, 0x18, 0x98, 0xFA, 0x05, 0x10, 0x15, 0x72, 0x8E, 0x5A, 0x8A, 0xAA, 0xC4, 0x2D, 0xAD, 0x33, 0x17, 0x0D,
    0x04, 0x50, 0x7A, 0x33, 0xA8, 0x55, 0x21, 0xAB, 0xDF, 0x1C, 0xBA, 0x64, 0xEC, 0xFB, 0x85, 0x04, 0x58, 0xDB,
    0xEF, 0x0A, 0x8A, 0xEA, 0x71, 0x57, 0x5D, 0x06, 0x0C, 0x7D, 0xB3, 0x97, 0x0F, 0x85, 0xA6, 0xE1, 0xE4, 0xC7,
    0xAB, 0xF5, 0xAE, 0x8C, 0xDB, 0x09, 0x33, 0xD7, 0x1E, 0x8C, 0x94, 0xE0, 0x4A, 0x25, 0x61, 0x9D, 0xCE, 0xE3,
    0xD2, 0x26, 0x1A, 0xD2, 0xEE, 0x6B, 0xF1, 0x2F, 0xFA, 0x06, 0xD9, 0x8A, 0x08, 0x64, 0xD8, 0x76, 0x02, 0x73,
    0x3E, 0xC8, 0x6A, 0x64, 0x52, 0x1F, 0x2B, 0x18, 0x17, 0x7B, 0x20, 0x0C, 0xBB, 0xE1, 0x17, 0x57, 0x7A, 0x61,
    0x5D, 0x6C, 0x77, 0x09, 0x88, 0xC0, 0xBA, 0xD9, 0x46, 0xE2, 0x08, 0xE2, 0x4F, 0xA0, 0x74, 0xE5, 0xAB, 0x31,
    0x43, 0xDB, 0x5B, 0xFC, 0xE0, 0xFD, 0x10, 0x8E, 0x4B, 0x82, 0xD1, 0x20, 0xA9, 0x3A, 0xD2, 0xCA, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

constexpr int kGenerator = 5;

// An Mbed TLS number that frees itself. Every operation on it reports failure
// as false so a chain of steps can stop at the first error.
class Mpi {
public:
    Mpi() { mbedtls_mpi_init(&v_); }
    ~Mpi() { mbedtls_mpi_free(&v_); }
    Mpi(const Mpi&) = delete;
    Mpi& operator=(const Mpi&) = delete;
    mbedtls_mpi* get() { return &v_; }
    const mbedtls_mpi* get() const { return &v_; }

    bool Read(const std::vector<uint8_t>& bytes) {
        return mbedtls_mpi_read_binary(&v_, bytes.data(), bytes.size()) == 0;
    }
    bool Set(int value) { return mbedtls_mpi_lset(&v_, value) == 0; }
    // Exactly `length` big-endian bytes; fails when the value does not fit.
    bool Write(std::vector<uint8_t>& out, size_t length) const {
        out.assign(length, 0);
        if (mbedtls_mpi_write_binary(&v_, out.data(), out.size()) != 0) {
            out.clear();
            return false;
        }
        return true;
    }
    bool IsZero() const { return mbedtls_mpi_cmp_int(&v_, 0) == 0; }

private:
    mbedtls_mpi v_;
};

// Modular exponentiation with the shared prime.
bool ExpMod(Mpi& out, const Mpi& base, const Mpi& exponent, const Mpi& n) {
    return mbedtls_mpi_exp_mod(out.get(), base.get(), exponent.get(), n.get(), nullptr) == 0;
}

bool MulMod(Mpi& out, const Mpi& a, const Mpi& b, const Mpi& n) {
    Mpi product;
    return mbedtls_mpi_mul_mpi(product.get(), a.get(), b.get()) == 0 &&
           mbedtls_mpi_mod_mpi(out.get(), product.get(), n.get()) == 0;
}

bool LoadPrime(Mpi& n) { return n.Read(SrpGroupPrime()); }

std::vector<uint8_t> Concat(std::initializer_list<const std::vector<uint8_t>*> parts) {
    std::vector<uint8_t> all;
    size_t total = 0;
    for (const auto* p : parts) total += p->size();
    all.reserve(total);
    for (const auto* p : parts) all.insert(all.end(), p->begin(), p->end());
    return all;
}

std::vector<uint8_t> StripLeadingZeros(const std::vector<uint8_t>& v) {
    size_t i = 0;
    while (i < v.size() && v[i] == 0) ++i;
    return std::vector<uint8_t>(v.begin() + static_cast<std::ptrdiff_t>(i), v.end());
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// u = H(PAD(A) || PAD(B)).
std::vector<uint8_t> HashU(const std::vector<uint8_t>& A, const std::vector<uint8_t>& B) {
    std::vector<uint8_t> pa = SrpPad(A), pb = SrpPad(B);
    return Sha256Buffer(Concat({&pa, &pb}));
}

}  // namespace

const std::vector<uint8_t>& SrpGroupPrime() {
    static const std::vector<uint8_t> prime(kPrime3072, kPrime3072 + kSrpNumberBytes);
    return prime;
}

std::vector<uint8_t> SrpPad(const std::vector<uint8_t>& v, size_t length) {
    std::vector<uint8_t> out(length, 0);
    if (v.size() >= length) {
        std::copy(v.end() - static_cast<std::ptrdiff_t>(length), v.end(), out.begin());
    } else {
        std::copy(v.begin(), v.end(), out.begin() + static_cast<std::ptrdiff_t>(length - v.size()));
    }
    return out;
}

std::vector<uint8_t> Sha256Buffer(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out(kSrpHashBytes);
    if (mbedtls_sha256(data.data(), data.size(), out.data(), 0) != 0) return {};
    return out;
}

std::vector<uint8_t> Sha256Bytes(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> inner = Sha256Buffer(data);
    if (inner.empty()) return {};
    return Sha256Buffer(StripLeadingZeros(inner));
}

std::vector<uint8_t> SrpComputeX(const SrpSalt& salt, const SrpPassword& password) {
    std::string identityAndPassword = std::string(kSrpIdentity) + ":" + password.text;
    std::vector<uint8_t> inner =
        Sha256Buffer(std::vector<uint8_t>(identityAndPassword.begin(), identityAndPassword.end()));
    if (inner.empty()) return {};
    return Sha256Buffer(Concat({&salt.bytes, &inner}));
}

std::vector<uint8_t> SrpHashPadded(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                                   const std::vector<uint8_t>& c) {
    std::vector<uint8_t> pa = SrpPad(a), pb = SrpPad(b), pc = SrpPad(c);
    return Sha256Buffer(Concat({&pa, &pb, &pc}));
}

std::vector<uint8_t> SrpMultiplier() {
    std::vector<uint8_t> g = SrpPad(std::vector<uint8_t>{static_cast<uint8_t>(kGenerator)});
    return Sha256Buffer(Concat({&SrpGroupPrime(), &g}));
}

std::vector<uint8_t> SrpRandomExponent(const RandomFill& random) {
    std::vector<uint8_t> raw(kSrpNumberBytes);
    if (!random || !random(raw.data(), raw.size())) return {};
    Mpi r, n, nMinus1;
    std::vector<uint8_t> out;
    if (!r.Read(raw) || !LoadPrime(n) || mbedtls_mpi_sub_int(nMinus1.get(), n.get(), 1) != 0 ||
        mbedtls_mpi_mod_mpi(r.get(), r.get(), nMinus1.get()) != 0) {
        return {};
    }
    if (r.IsZero() && !r.Set(1)) return {};
    if (!r.Write(out, kSrpNumberBytes)) return {};
    return out;
}

std::vector<uint8_t> SrpMakeVerifier(const SrpSalt& salt, const SrpPassword& password) {
    std::vector<uint8_t> xBytes = SrpComputeX(salt, password);
    if (xBytes.empty()) return {};
    Mpi x, g, n, v;
    std::vector<uint8_t> out;
    if (!x.Read(xBytes) || !g.Set(kGenerator) || !LoadPrime(n) || !ExpMod(v, g, x, n) ||
        !v.Write(out, kSrpNumberBytes)) {
        return {};
    }
    return out;
}

std::vector<uint8_t> RandomBytes32(const RandomFill& random) {
    std::vector<uint8_t> out(32);
    if (!random || !random(out.data(), out.size())) return {};
    return out;
}

std::vector<uint8_t> SrpServerStart(SrpServerState& state, const std::vector<uint8_t>& verifier,
                                    const RandomFill& random) {
    state.bReady = 0;
    state.B.clear();
    state.K.clear();
    state.verifier = verifier;
    if (verifier.empty()) return {};
    std::vector<uint8_t> kBytes = SrpMultiplier();
    state.b = SrpRandomExponent(random);
    if (kBytes.empty() || state.b.empty()) return {};
    Mpi k, v, b, g, n, kv, gb, sum, B;
    std::vector<uint8_t> out;
    if (!k.Read(kBytes) || !v.Read(verifier) || !b.Read(state.b) || !g.Set(kGenerator) || !LoadPrime(n) ||
        !MulMod(kv, k, v, n) || !ExpMod(gb, g, b, n) || mbedtls_mpi_add_mpi(sum.get(), kv.get(), gb.get()) != 0 ||
        mbedtls_mpi_mod_mpi(B.get(), sum.get(), n.get()) != 0 || !B.Write(out, kSrpNumberBytes)) {
        return {};
    }
    state.B = out;
    state.bReady = 1;
    return out;
}

bool SrpPublicValueAcceptable(const std::vector<uint8_t>& value) {
    if (value.empty() || value.size() > kSrpNumberBytes) return false;
    // Big-endian and at most as long as N: comparing N's bytes from the same
    // right-aligned position decides "below N"; all zero bytes is 0.
    const std::vector<uint8_t> padded = SrpPad(value);
    const std::vector<uint8_t>& n = SrpGroupPrime();
    bool nonZero = false;
    for (uint8_t byte : padded) nonZero = nonZero || byte != 0;
    return nonZero && std::lexicographical_compare(padded.begin(), padded.end(), n.begin(), n.end());
}

std::vector<uint8_t> SrpServerFinish(SrpServerState& state, const std::vector<uint8_t>& A,
                                     const std::vector<uint8_t>& M1) {
    state.K.clear();
    if (!state.bReady || !SrpPublicValueAcceptable(A)) return {};
    Mpi a, n;
    if (!a.Read(A) || !LoadPrime(n)) return {};

    std::vector<uint8_t> uBytes = HashU(A, state.B);
    if (uBytes.empty()) return {};
    Mpi u, v, b, vu, base, s;
    std::vector<uint8_t> sBytes;
    if (!u.Read(uBytes) || u.IsZero() || !v.Read(state.verifier) || !b.Read(state.b) || !ExpMod(vu, v, u, n) ||
        !MulMod(base, a, vu, n) || !ExpMod(s, base, b, n)) {
        return {};
    }
    if (s.IsZero() || !s.Write(sBytes, kSrpNumberBytes)) return {};

    std::vector<uint8_t> expectedM1 = SrpHashPadded(A, state.B, sBytes);
    if (expectedM1.empty() || !SrpProofsEqual(expectedM1, M1)) return {};
    std::vector<uint8_t> m2 = SrpHashPadded(A, expectedM1, sBytes);
    std::vector<uint8_t> key = Sha256Bytes(sBytes);
    if (m2.empty() || key.empty()) return {};
    state.K = key;
    return m2;
}

std::pair<std::vector<uint8_t>, std::vector<uint8_t>> SrpClientCompute(SrpClientState& state,
                                                                        const SrpPassword& password,
                                                                        const std::vector<uint8_t>& B,
                                                                        const SrpSalt& salt,
                                                                        const RandomFill& random) {
    state = SrpClientState{};
    std::vector<uint8_t> xBytes = SrpComputeX(salt, password);
    std::vector<uint8_t> kBytes = SrpMultiplier();
    std::vector<uint8_t> aBytes = SrpRandomExponent(random);
    if (xBytes.empty() || kBytes.empty() || aBytes.empty() || B.empty()) return {};

    // A host value of 0 mod N would make S predictable; one longer than the group
    // would be hashed apart from the number it stands for.
    if (!SrpPublicValueAcceptable(B)) return {};
    Mpi x, k, a, g, n, bModN, bigA;
    std::vector<uint8_t> aPublic;
    if (!x.Read(xBytes) || !k.Read(kBytes) || !a.Read(aBytes) || !g.Set(kGenerator) || !LoadPrime(n) ||
        !bModN.Read(B)) {
        return {};
    }
    if (!ExpMod(bigA, g, a, n) || !bigA.Write(aPublic, kSrpNumberBytes)) return {};

    std::vector<uint8_t> uBytes = HashU(aPublic, B);
    Mpi u, gx, kgx, diff, ux, exponent, s;
    std::vector<uint8_t> sBytes;
    if (uBytes.empty() || !u.Read(uBytes) || u.IsZero() || !ExpMod(gx, g, x, n) || !MulMod(kgx, k, gx, n) ||
        mbedtls_mpi_sub_mpi(diff.get(), bModN.get(), kgx.get()) != 0 ||
        mbedtls_mpi_mod_mpi(diff.get(), diff.get(), n.get()) != 0 ||
        mbedtls_mpi_mul_mpi(ux.get(), u.get(), x.get()) != 0 ||
        mbedtls_mpi_add_mpi(exponent.get(), a.get(), ux.get()) != 0 || !ExpMod(s, diff, exponent, n)) {
        return {};
    }
    if (s.IsZero() || !s.Write(sBytes, kSrpNumberBytes)) return {};

    std::vector<uint8_t> m1 = SrpHashPadded(aPublic, B, sBytes);
    std::vector<uint8_t> key = Sha256Bytes(sBytes);
    if (m1.empty() || key.empty()) return {};
    state.A = aPublic;
    state.M1 = m1;
    state.S = sBytes;
    state.K = key;
    state.ready = 1;
    return {aPublic, m1};
}

bool SrpClientCheckM2(const SrpClientState& state, const std::vector<uint8_t>& M2) {
    if (!state.ready) return false;
    std::vector<uint8_t> expected = SrpHashPadded(state.A, state.M1, state.S);
    return !expected.empty() && SrpProofsEqual(expected, M2);
}

bool SrpProofsEqual(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.empty() || b.empty()) return false;
    // Aligning both on the right makes "equal without leading zeros" a plain
    // byte comparison over a common length; every byte is looked at.
    size_t length = a.size() > b.size() ? a.size() : b.size();
    uint8_t diff = 0;
    for (size_t i = 0; i < length; ++i) {
        size_t fromEnd = length - 1 - i;
        uint8_t x = fromEnd < a.size() ? a[a.size() - 1 - fromEnd] : 0;
        uint8_t y = fromEnd < b.size() ? b[b.size() - 1 - fromEnd] : 0;
        diff |= static_cast<uint8_t>(x ^ y);
    }
    return diff == 0;
}

std::vector<uint8_t> HexToBytes(const std::string& hex) {
    std::string text = (hex.size() % 2 == 1) ? "0" + hex : hex;
    std::vector<uint8_t> out;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = HexDigit(text[i]);
        int lo = HexDigit(text[i + 1]);
        if (hi < 0) out.push_back(0);
        else if (lo < 0) out.push_back(static_cast<uint8_t>(hi));
        else out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return out;
}

std::string BytesToHex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0f]);
    }
    return out;
}

}  // namespace sv
