#include "app/lan_self_test.h"

#include <cstdio>
#include <vector>

#include "base/console_output.h"
#include "net/secure_channel.h"
#include "net/srp.h"

namespace sv {

const char kSrpVectorPassword[] = "abc123";
const char kSrpVectorA[] = "123456789abcdef0123456789abcdef0123456789abcdef";
const char kSrpVectorB[] = "fedcba9876543210fedcba9876543210fedcba98765432";
const char kSrpVectorS[] = "0f1e2d3c4b5a69780f1e2d3c4b5a69780f1e2d3c4b5a69788796";

namespace {

const char kSelfTestPassword[] = "k7p2q9";
const char kSelfTestWrongPassword[] = "wrong-password";  // fourteen characters

std::vector<uint8_t> VectorSalt() {
    std::vector<uint8_t> salt(32);
    for (size_t i = 0; i < salt.size(); ++i) salt[i] = static_cast<uint8_t>(i);
    return salt;
}

void CloseIfValid(SOCKET& s) {
    if (s != INVALID_SOCKET) closesocket(s);
    s = INVALID_SOCKET;
}

}  // namespace

std::string FormatSrpVectors() {
    const SrpSalt salt(VectorSalt());
    const SrpPassword password(kSrpVectorPassword);
    const std::vector<uint8_t> A = HexToBytes(kSrpVectorA);
    const std::vector<uint8_t> B = HexToBytes(kSrpVectorB);
    const std::vector<uint8_t> S = HexToBytes(kSrpVectorS);
    const std::vector<uint8_t> paddedS = SrpPad(S);

    std::vector<uint8_t> x = SrpComputeX(salt, password);
    std::vector<uint8_t> k = SrpMultiplier();
    std::vector<uint8_t> pa = SrpPad(A), pb = SrpPad(B);
    std::vector<uint8_t> ab(pa);
    ab.insert(ab.end(), pb.begin(), pb.end());
    std::vector<uint8_t> u = Sha256Buffer(ab);
    std::vector<uint8_t> m1 = SrpHashPadded(A, B, paddedS);
    std::vector<uint8_t> m2 = SrpHashPadded(A, m1, paddedS);
    std::vector<uint8_t> key = Sha256Bytes(paddedS);
    std::string v = BytesToHex(SrpMakeVerifier(salt, password)).substr(0, 48);

    std::string out;
    out += "  x   = " + BytesToHex(x) + "\n";
    out += "  k   = " + BytesToHex(k) + "\n";
    out += "  u   = " + BytesToHex(u) + "\n";
    out += "  M1  = " + BytesToHex(m1) + "\n";
    out += "  M2  = " + BytesToHex(m2) + "\n";
    out += "  key = " + BytesToHex(key) + "\n";
    out += "  v   = " + v + "\n";
    return out;
}

void PrintSrpVectors() {
    PrintText(stdout, FormatSrpVectors());
}

bool MakeLoopbackSocketPair(SOCKET& accepted, SOCKET& connected) {
    accepted = connected = INVALID_SOCKET;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) return false;
    BOOL reuse = TRUE;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    int len = sizeof addr;
    bool ok = bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(listener, 1) == 0 &&
              getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    if (ok) {
        connected = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ok = connected != INVALID_SOCKET &&
             connect(connected, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    if (ok) {
        accepted = accept(listener, nullptr, nullptr);
        ok = accepted != INVALID_SOCKET;
    }
    closesocket(listener);
    if (!ok) {
        CloseIfValid(accepted);
        CloseIfValid(connected);
    }
    return ok;
}

bool RunLanSelfTest() {
    LanSelfTestSeams seams;
    seams.makeSocketPair = MakeLoopbackSocketPair;
    seams.reportFailure = [](const std::string& line) {
        PrintText(stderr, line);
    };
    return RunLanSelfTest(seams);
}

bool RunLanSelfTest(const LanSelfTestSeams& seams) {
    auto fail = [&](const std::string& line) {
        if (seams.reportFailure) seams.reportFailure(line);
        return false;
    };

    const std::vector<uint8_t> saltBytes = RandomBytes32();
    if (saltBytes.empty()) return fail("[lan] random source failed\n");
    const SrpSalt salt(saltBytes);
    const SrpPassword good(kSelfTestPassword);
    const SrpPassword bad(kSelfTestWrongPassword);
    const std::vector<uint8_t> goodVerifier = SrpMakeVerifier(salt, good);
    const std::vector<uint8_t> badVerifier = SrpMakeVerifier(salt, bad);
    if (goodVerifier.empty() || goodVerifier == badVerifier) {
        return fail("[lan] verifiers equal\n  good: " + BytesToHex(goodVerifier) + "\n  bad : " +
                    BytesToHex(badVerifier) + "\n");
    }

    SrpServerState host(saltBytes);
    std::vector<uint8_t> B = SrpServerStart(host, goodVerifier);
    SrpClientState client;
    auto proof = SrpClientCompute(client, good, B, salt);
    std::vector<uint8_t> M2 = SrpServerFinish(host, proof.first, proof.second);
    if (M2.empty()) return fail("[lan] server rejected correct proof\n");
    if (!SrpClientCheckM2(client, M2)) return fail("[lan] client rejected M2\n");
    if (host.K != client.K) return fail("[lan] keys differ\n");
    const std::vector<uint8_t> hostKey = host.K;

    SrpClientState intruder;
    auto badProof = SrpClientCompute(intruder, bad, B, salt);
    std::vector<uint8_t> badM2 = SrpServerFinish(host, badProof.first, badProof.second);
    if (!badM2.empty()) {
        return fail("[lan] wrong password accepted\nserver K: " + BytesToHex(hostKey) +
                    "\nbad    K: " + BytesToHex(intruder.K) + "\n");
    }

    SOCKET accepted = INVALID_SOCKET, connected = INVALID_SOCKET;
    if (!seams.makeSocketPair || !seams.makeSocketPair(accepted, connected)) return fail("[lan] socket failed\n");

    SecureChannel hostChannel(accepted, hostKey, 1);
    SecureChannel clientChannel(connected, client.K, 0);
    bool ok = false;
    try {
        std::vector<uint8_t> payload;
        bool binary = true;
        ok = clientChannel.SendFrame({'h', 'i'}, 0) && hostChannel.ReceiveFrame(payload, binary) && !binary &&
             payload == std::vector<uint8_t>{'h', 'i'};
        if (ok) {
            binary = false;
            ok = hostChannel.SendFrame({0x01, 0x02}, 1) && clientChannel.ReceiveFrame(payload, binary) && binary &&
                 payload.size() == 2;
        }
    } catch (const std::exception&) {
        ok = false;
    }
    hostChannel.Close();
    clientChannel.Close();
    return ok;
}

}  // namespace sv
