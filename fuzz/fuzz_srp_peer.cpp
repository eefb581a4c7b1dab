// The SRP values a peer chooses: A and M1 reaching the host, and B with the salt
// reaching the self-test's client side.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "net/srp.h"

namespace {

bool SmallExponent(uint8_t* out, size_t n) {
    std::memset(out, 0, n);
    if (n) out[n - 1] = 5;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> salt(32, 0x22);
    static const std::vector<uint8_t> verifier = sv::SrpMakeVerifier(sv::SrpSalt(salt), sv::SrpPassword("pw"));
    FuzzedDataProvider in(data, size);
    size_t aLength = in.ConsumeIntegralInRange<size_t>(0, 2 * sv::kSrpNumberBytes);
    std::vector<uint8_t> A = in.ConsumeBytes<uint8_t>(aLength);
    std::vector<uint8_t> M1 = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 64));
    sv::SrpServerState state(salt);
    if (sv::SrpServerStart(state, verifier, SmallExponent).empty()) __builtin_trap();
    std::vector<uint8_t> M2 = sv::SrpServerFinish(state, A, M1);
    if (!M2.empty()) __builtin_trap();  // no proof is guessed
    if (!state.K.empty()) __builtin_trap();

    std::vector<uint8_t> B = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 2 * sv::kSrpNumberBytes));
    std::vector<uint8_t> peerSalt = in.ConsumeRemainingBytes<uint8_t>();
    sv::SrpClientState client;
    auto proof = sv::SrpClientCompute(client, sv::SrpPassword("pw"), B, sv::SrpSalt(peerSalt), SmallExponent);
    sv::SrpClientCheckM2(client, M1);
    (void)proof;
    return 0;
}
