// SRP-6a arithmetic: known answers computed with an independent implementation
// (Python integers), agreement of the two sides, and refusal of hostile values.
#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>

#include "mbedtls/bignum.h"
#include "net/srp.h"

namespace sv {
namespace {

using Bytes = std::vector<uint8_t>;

// The salt and password must not be swappable at a call site.
static_assert(!std::is_convertible<std::string, SrpPassword>::value, "password must be explicit");
static_assert(!std::is_convertible<Bytes, SrpSalt>::value, "salt must be explicit");
static_assert(!std::is_invocable<decltype(&SrpMakeVerifier), SrpPassword, SrpSalt>::value,
              "(password, salt) must not compile for SrpMakeVerifier");
static_assert(!std::is_invocable<decltype(&SrpComputeX), SrpPassword, SrpSalt>::value,
              "(password, salt) must not compile for SrpComputeX");
static_assert(std::is_invocable<decltype(&SrpMakeVerifier), SrpSalt, SrpPassword>::value, "");

Bytes TestSalt() {
    Bytes salt(32);
    for (size_t i = 0; i < salt.size(); ++i) salt[i] = static_cast<uint8_t>(i);
    return salt;
}

// Every draw is the same byte repeated.
RandomFill RepeatedByte(uint8_t value) {
    return [value](uint8_t* out, size_t n) {
        std::memset(out, value, n);
        return true;
    };
}

// Every draw is the small number `value` as big-endian bytes.
RandomFill SmallNumber(uint32_t value) {
    return [value](uint8_t* out, size_t n) {
        std::memset(out, 0, n);
        for (size_t i = 0; i < 4 && i < n; ++i) out[n - 1 - i] = static_cast<uint8_t>(value >> (8 * i));
        return true;
    };
}

RandomFill FailingRandom() {
    return [](uint8_t*, size_t) { return false; };
}

const char kVerifierHex[] =
    "f21d27a4f557aa35e88e22d93709af0480a7b69acc2d5827505542e84ccd92bdf5330b4ae82d1cc4ce8a5e6182a83d45677adf0c2f91b"
    "163edf6fedb7d1412f0adbe0e96fec574d41b1c5c663677f76b7fb4153d167b2deaa1d4427f92b4cceab40e0093bf00ae74c79c64943"
    "b3b095342829ef0c4f4a42a8fd5c9c3df9dd8931637ec4914953ee1dc75945c1c9db3e6d62032cf90f91320ef05ddc1760d33552819"
    "05368d44fb75e3b6431471bcb0942fb838faf572a099f52c33e047a6124cc0dd7edff9931064d3bee9b4d50ed9be88b89e2ae2044794"
    "91b54b304b44659d448b9f07cacc7edf5e0ab4ab2c3d974c0373fc2bc921a517b182b091f2ed6d85d58258ce53509bf802663cff5f0b"
    "3554acd0868855848b46c0fb356defc6ce84967d22a8078d3edd2711e0fefd780c0d7d17b2536641e15fc2d495a8d59d5b4a6ee23973"
    "60b3651a454e1799ef9e96e511ea97e62f7151520ee02abaa11b6d4e9beaa6efecdbddc0874226110a99a764e9bf0b88135e4581ae44"
    "a105e789772f";
const char kBHex[] =
    "dc0cafe81b89d3b16702e9244ad4eb36cf1d1de41f99f91e22e454e78c64c297989a9b89d0e20ff4f163734935efb2d6f302ac284bee"
    "26a5124ea2f232cfaca5c20646aa05ea745dec51baf0acb8d02077d75dd5f52c0a0f04f0046dca8c731d33f7d4f0273b7efb419bdceb"
    "6c283788743e37c8571469dab8f53a2dfc2d57d6064b094837814e8101cfe28723c2743b471ea24982ed51a3d5a195b5a3f570b0e673"
    "279e0a5d98145aa1120fb8dda8c13c1b2391d004e3ff41954049d48f3bd66547fc3fb5a1cb12c5444bda27f83b2d392d5713dff8a911"
    "9e89036ceb60be2aecac41accdaa909c3fa75f7fe882ddb4f99febd11fdf3bd26ecad9ad75d27fb54fc813c0ac0c430b8fff0ba91fc7"
    "0bcd79e586d88e6bf61b7285f49cfa4db6eb084ccb05055e2690a29381a8116e9a50a345af12d18e2126ce15732cfae8e1019e99a910"
    "c9218fae39c0e00d78cd920b87ae96f10c16b6cd690348b50fa249a919b49252db50a01347b7e5bded407ea48a027bd7a3c766cbea9d"
    "55c09a8fc8f7";
const char kAHex[] =
    "6839f2f1698e4a5aa70e6f9d887279c510ad67c0cda99ba1ef4b43f02765a24d94fc488abbb0cc1f1cabf07d783761a749a059748d7c"
    "ef6ec29cdae15e87598a1c51ee8c3f3f16767f4d79b0c08108cb62ebb3b2ec5f021d96b26ff8105935ca0ba37ea0f6da1e3e45ebd209"
    "b0de79b98738dc0b7a68b84a7411d3fd9b5ba4aabbe2d98a9772ddb79a3ba25b82b9ca7f40a1c340df29f00959c3c3ce9029bb91a60a"
    "ef72d26f365088ff7ebaad1ff9f081d538d800df5f41136d1a4a9d3249bd90d1d56c86c21640e3baa69549917b259eb74958ccf278e7"
    "c6a5042fe2f34eca3f8880151470eee6b6c4754d742054d02803336af88857f8f813be7a8454b5a0990420e4f0fcfaa8d2a712e4aebb"
    "806be04739fa0e500c35b716c3438f94f92f0aff22bd73638551cd63c9244105b052038d653c8ee83237f915022162fc2d0cc6f7099f"
    "17367f478059db87ec34c8679ce4417700e309dd7cec650465d3925ef3cabac0674aac202e4d9791f30d26322aa86fe39847cfb4b79d"
    "da5e5db328f0";

TEST(Srp, GroupPrimeIsTheRfc5054Prime) {
    const Bytes& n = SrpGroupPrime();
    ASSERT_EQ(n.size(), 384u);
    EXPECT_EQ(BytesToHex(Bytes(n.begin(), n.begin() + 16)), "ffffffffffffffffc90fdaa22168c234");
    EXPECT_EQ(BytesToHex(Bytes(n.end() - 16, n.end())), "4b82d120a93ad2caffffffffffffffff");
    EXPECT_EQ(BytesToHex(Sha256Buffer(n)), "48cf8b092fbce4359d9871abf74f98e25b6163379eaa15cd9087e800c6d1c55c");
}

TEST(Srp, MultiplierKnownAnswer) {
    EXPECT_EQ(BytesToHex(SrpMultiplier()), "081f4874fa543a371b49a670402fda59ecfab53a1b850fc42e1c357cc846111e");
}

TEST(Srp, Sha256BufferKnownAnswer) {
    EXPECT_EQ(BytesToHex(Sha256Buffer({'a', 'b', 'c'})),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Srp, SessionKeyDropsLeadingZerosOfInnerHash) {
    // H(PAD(111)) begins with a zero byte: the key hashes only its 31 other bytes.
    Bytes s = SrpPad({111});
    EXPECT_EQ(BytesToHex(Sha256Buffer(s)).substr(0, 2), "00");
    EXPECT_EQ(BytesToHex(Sha256Bytes(s)), "14ad04744859b7d4b9c93a54bec40e823cc1d092333fd685b344ec14a7258893");
    EXPECT_NE(BytesToHex(Sha256Bytes(s)), BytesToHex(Sha256Buffer(Sha256Buffer(s))));
}

TEST(Srp, PadLeftFillsAndKeepsLastBytes) {
    EXPECT_EQ(SrpPad({1, 2}, 4), (Bytes{0, 0, 1, 2}));
    EXPECT_EQ(SrpPad({1, 2, 3, 4, 5}, 4), (Bytes{2, 3, 4, 5}));
    EXPECT_EQ(SrpPad({9, 8, 7, 6}, 4), (Bytes{9, 8, 7, 6}));
    EXPECT_EQ(SrpPad({}, 3), (Bytes{0, 0, 0}));
    EXPECT_EQ(SrpPad({7}).size(), 384u);
}

TEST(Srp, VerifierKnownAnswerAndDeterminism) {
    SrpSalt salt(TestSalt());
    EXPECT_EQ(BytesToHex(SrpComputeX(salt, SrpPassword("abc123"))),
              "5b2a0f95ee0af55e0c73c39ed04eeeec95b9a58655da0aafd19c4129c98cbbc6");
    Bytes v = SrpMakeVerifier(salt, SrpPassword("abc123"));
    EXPECT_EQ(BytesToHex(v), kVerifierHex);
    EXPECT_EQ(SrpMakeVerifier(salt, SrpPassword("abc123")), v);
    EXPECT_NE(SrpMakeVerifier(salt, SrpPassword("abc124")), v);
    Bytes otherSalt = TestSalt();
    otherSalt[31] ^= 1;
    EXPECT_NE(SrpMakeVerifier(SrpSalt(otherSalt), SrpPassword("abc123")), v);
}

TEST(Srp, FullExchangeKnownAnswer) {
    SrpServerState host(TestSalt());
    Bytes v = SrpMakeVerifier(SrpSalt(TestSalt()), SrpPassword("abc123"));
    Bytes B = SrpServerStart(host, v, RepeatedByte(0x42));
    EXPECT_EQ(BytesToHex(B), kBHex);

    SrpClientState client;
    auto proof = SrpClientCompute(client, SrpPassword("abc123"), B, SrpSalt(TestSalt()), RepeatedByte(0x24));
    EXPECT_EQ(BytesToHex(proof.first), kAHex);
    EXPECT_EQ(BytesToHex(proof.second), "26746189ba56b2ea7273120f9b0d3770b5b445cb2e03e64b5e31f50cf39048a7");
    EXPECT_EQ(BytesToHex(client.K), "ceb13004269584efce0420768d5c341076d8d55955d5a5052fa0f1e35e002691");
    EXPECT_EQ(BytesToHex(client.S).substr(0, 16), "e3a2483fe338f042");

    Bytes m2 = SrpServerFinish(host, proof.first, proof.second);
    EXPECT_EQ(BytesToHex(m2), "17d31dd5040fa2b8eeeae0b7ed49f7dbe94f5ecf5e9359e7b78b899da6583fbd");
    EXPECT_EQ(host.K, client.K);
    EXPECT_TRUE(SrpClientCheckM2(client, m2));
}

TEST(Srp, HostAndClientAgreeWithSystemRandom) {
    Bytes salt = RandomBytes32();
    ASSERT_EQ(salt.size(), 32u);
    Bytes v = SrpMakeVerifier(SrpSalt(salt), SrpPassword("k7p2q9"));
    SrpServerState host(salt);
    Bytes B = SrpServerStart(host, v);
    ASSERT_EQ(B.size(), 384u);
    ASSERT_EQ(host.bReady, 1);
    SrpClientState client;
    auto proof = SrpClientCompute(client, SrpPassword("k7p2q9"), B, SrpSalt(salt));
    ASSERT_EQ(proof.first.size(), 384u);
    ASSERT_EQ(proof.second.size(), 32u);
    Bytes m2 = SrpServerFinish(host, proof.first, proof.second);
    ASSERT_EQ(m2.size(), 32u);
    EXPECT_EQ(host.K.size(), 32u);
    EXPECT_EQ(host.K, client.K);
    EXPECT_TRUE(SrpClientCheckM2(client, m2));
    Bytes tampered = m2;
    tampered[5] ^= 0x10;
    EXPECT_FALSE(SrpClientCheckM2(client, tampered));
}

TEST(Srp, SecretExponentsDifferBetweenHandshakes) {
    SrpServerState one(TestSalt()), two(TestSalt());
    Bytes v = SrpMakeVerifier(SrpSalt(TestSalt()), SrpPassword("abc123"));
    Bytes b1 = SrpServerStart(one, v), b2 = SrpServerStart(two, v);
    EXPECT_NE(one.b, two.b);
    EXPECT_NE(b1, b2);
    EXPECT_NE(RandomBytes32(), RandomBytes32());
}

TEST(Srp, WrongPasswordGetsNoProofAndNoKey) {
    Bytes v = SrpMakeVerifier(SrpSalt(TestSalt()), SrpPassword("abc123"));
    SrpServerState host(TestSalt());
    Bytes B = SrpServerStart(host, v);
    SrpClientState client;
    auto proof = SrpClientCompute(client, SrpPassword("abc12"), B, SrpSalt(TestSalt()));
    ASSERT_FALSE(proof.second.empty());
    EXPECT_TRUE(SrpServerFinish(host, proof.first, proof.second).empty());
    EXPECT_TRUE(host.K.empty());
}

TEST(Srp, PublicValueZeroModNIsRefused) {
    Bytes v = SrpMakeVerifier(SrpSalt(TestSalt()), SrpPassword("abc123"));
    SrpServerState host(TestSalt());
    Bytes B = SrpServerStart(host, v);
    // With A = 0, N or 2N the host's S would be 0; a forger would know it.
    Bytes zeroS(384, 0);
    Bytes n = SrpGroupPrime();
    Bytes twoN(385, 0);
    {
        unsigned carry = 0;
        for (size_t i = 0; i < 384; ++i) {
            unsigned sum = 2u * n[383 - i] + carry;
            twoN[384 - i] = static_cast<uint8_t>(sum);
            carry = sum >> 8;
        }
        twoN[0] = static_cast<uint8_t>(carry);
    }
    for (const Bytes& a : {Bytes(384, 0), n, twoN, Bytes{0}}) {
        Bytes forgedM1 = SrpHashPadded(a, B, zeroS);
        EXPECT_TRUE(SrpServerFinish(host, a, forgedM1).empty());
        EXPECT_TRUE(host.K.empty());
    }
    EXPECT_TRUE(SrpServerFinish(host, {}, Bytes(32, 1)).empty());
}

TEST(Srp, ZeroVerifierNeverAdmitsAForgedProof) {
    // A verifier of zero makes S zero for every A: refused rather than keyed.
    SrpServerState host(TestSalt());
    Bytes B = SrpServerStart(host, Bytes(384, 0), RepeatedByte(0x42));
    ASSERT_EQ(B.size(), 384u);
    Bytes a = SrpPad({2});
    Bytes forgedM1 = SrpHashPadded(a, B, Bytes(384, 0));
    EXPECT_TRUE(SrpServerFinish(host, a, forgedM1).empty());
    EXPECT_TRUE(host.K.empty());
}

TEST(Srp, ClientRefusesHostValueZeroModN) {
    SrpClientState client;
    auto zero = SrpClientCompute(client, SrpPassword("abc123"), Bytes(384, 0), SrpSalt(TestSalt()));
    EXPECT_TRUE(zero.first.empty());
    EXPECT_TRUE(zero.second.empty());
    auto n = SrpClientCompute(client, SrpPassword("abc123"), SrpGroupPrime(), SrpSalt(TestSalt()));
    EXPECT_TRUE(n.second.empty());
    EXPECT_EQ(client.ready, 0);
    EXPECT_FALSE(SrpClientCheckM2(client, Bytes(32, 0)));
}

TEST(Srp, ProofWithoutItsLeadingZeroIsAccepted) {
    // Client exponent 98 against the fixed host gives an M1 that starts with 0x00.
    Bytes v = SrpMakeVerifier(SrpSalt(TestSalt()), SrpPassword("abc123"));
    SrpServerState host(TestSalt());
    Bytes B = SrpServerStart(host, v, RepeatedByte(0x42));
    SrpClientState client;
    auto proof = SrpClientCompute(client, SrpPassword("abc123"), B, SrpSalt(TestSalt()), SmallNumber(98));
    ASSERT_EQ(BytesToHex(proof.second), "0048b6a25ba8bf084b31ebc675a038a1797db87854eb9660999a5cf5e6e5dcda");
    Bytes shortM1(proof.second.begin() + 1, proof.second.end());
    Bytes m2 = SrpServerFinish(host, proof.first, shortM1);
    EXPECT_EQ(BytesToHex(m2), "6eb1a2c4b8038503521d6b814c1183f338167c9337bd0cdbdf522d51756bf2de");
    EXPECT_EQ(host.K, client.K);
}

// Arithmetic for the attacker below, written apart from the code under test.
struct Num {
    mbedtls_mpi v;
    Num() { mbedtls_mpi_init(&v); }
    explicit Num(const Bytes& bytes) : Num() { EXPECT_EQ(mbedtls_mpi_read_binary(&v, bytes.data(), bytes.size()), 0); }
    explicit Num(int value) : Num() { EXPECT_EQ(mbedtls_mpi_lset(&v, value), 0); }
    ~Num() { mbedtls_mpi_free(&v); }
    Num(const Num&) = delete;
    Bytes Out(size_t length = 384) const {
        Bytes out(length);
        EXPECT_EQ(mbedtls_mpi_write_binary(&v, out.data(), out.size()), 0);
        return out;
    }
};

// Whoever holds only the verifier (not the password) sends an A of 768 bytes: its last
// 384 bytes L are what the hashes see, while its whole value is g^a * v^-u mod N, so the
// host's S = (A * v^u)^b = (g^b)^a, and g^b = B - k*v is known to the verifier's holder.
TEST(Srp, VerifierAloneCannotPassWithAnOverlongPublicValue) {
    const Bytes v = SrpMakeVerifier(SrpSalt(TestSalt()), SrpPassword("abc123"));
    SrpServerState host(TestSalt());
    const Bytes B = SrpServerStart(host, v);
    ASSERT_EQ(B.size(), 384u);

    Num n(SrpGroupPrime()), g(5), a(987654321), vNum(v), k(SrpMultiplier()), bNum(B), low;
    ASSERT_EQ(mbedtls_mpi_exp_mod(&low.v, &g.v, &a.v, &n.v, nullptr), 0);
    const Bytes L = low.Out();
    Bytes hashInput = SrpPad(L);
    hashInput.insert(hashInput.end(), B.begin(), B.end());
    Num uNum(Sha256Buffer(hashInput));
    // T = g^a * v^-u; high = (T - L) / 2^3072, all mod N.
    Num vu, vuInv, t, diff, shift, shiftInv, high;
    ASSERT_EQ(mbedtls_mpi_exp_mod(&vu.v, &vNum.v, &uNum.v, &n.v, nullptr), 0);
    ASSERT_EQ(mbedtls_mpi_inv_mod(&vuInv.v, &vu.v, &n.v), 0);
    ASSERT_EQ(mbedtls_mpi_mul_mpi(&t.v, &low.v, &vuInv.v), 0);
    ASSERT_EQ(mbedtls_mpi_mod_mpi(&t.v, &t.v, &n.v), 0);
    ASSERT_EQ(mbedtls_mpi_sub_mpi(&diff.v, &t.v, &low.v), 0);
    ASSERT_EQ(mbedtls_mpi_mod_mpi(&diff.v, &diff.v, &n.v), 0);
    ASSERT_EQ(mbedtls_mpi_lset(&shift.v, 1), 0);
    ASSERT_EQ(mbedtls_mpi_shift_l(&shift.v, 3072), 0);
    ASSERT_EQ(mbedtls_mpi_mod_mpi(&shift.v, &shift.v, &n.v), 0);
    ASSERT_EQ(mbedtls_mpi_inv_mod(&shiftInv.v, &shift.v, &n.v), 0);
    ASSERT_EQ(mbedtls_mpi_mul_mpi(&high.v, &diff.v, &shiftInv.v), 0);
    ASSERT_EQ(mbedtls_mpi_mod_mpi(&high.v, &high.v, &n.v), 0);
    Bytes longA = high.Out();
    longA.insert(longA.end(), L.begin(), L.end());

    // S from what the attacker knows: (B - k*v)^a.
    Num kv, gb, s;
    ASSERT_EQ(mbedtls_mpi_mul_mpi(&kv.v, &k.v, &vNum.v), 0);
    ASSERT_EQ(mbedtls_mpi_sub_mpi(&gb.v, &bNum.v, &kv.v), 0);
    ASSERT_EQ(mbedtls_mpi_mod_mpi(&gb.v, &gb.v, &n.v), 0);
    ASSERT_EQ(mbedtls_mpi_exp_mod(&s.v, &gb.v, &a.v, &n.v, nullptr), 0);
    const Bytes S = s.Out();
    // The forgery is sound: the host's own formula over the whole A gives the same S.
    Num whole(longA), base, hostS, secret(host.b);
    ASSERT_EQ(mbedtls_mpi_mul_mpi(&base.v, &whole.v, &vu.v), 0);
    ASSERT_EQ(mbedtls_mpi_mod_mpi(&base.v, &base.v, &n.v), 0);
    ASSERT_EQ(mbedtls_mpi_exp_mod(&hostS.v, &base.v, &secret.v, &n.v, nullptr), 0);
    ASSERT_EQ(hostS.Out(), S);

    EXPECT_TRUE(SrpServerFinish(host, longA, SrpHashPadded(L, B, S)).empty());
    EXPECT_TRUE(host.K.empty());
}

// A and B each: at most 384 bytes, above 0 and below N.
TEST(Srp, PublicValuesOutsideTheGroupAreRefusedOnBothSides) {
    Bytes honest;
    {
        SrpServerState host(TestSalt());
        honest = SrpServerStart(host, SrpMakeVerifier(SrpSalt(TestSalt()), SrpPassword("abc123")));
    }
    Bytes nMinusOne = SrpGroupPrime();
    nMinusOne.back() -= 1;
    struct Case {
        const char* name;
        Bytes value;
        bool acceptable;
    };
    const Case cases[] = {
        {"honest value", honest, true},
        {"short value", {2}, true},
        {"N - 1", nMinusOne, true},
        {"empty", {}, false},
        {"zero", Bytes(384, 0), false},
        {"one zero byte", {0}, false},
        {"N", SrpGroupPrime(), false},
        {"all ones", Bytes(384, 0xff), false},
        {"honest value with a zero byte in front", SrpPad(honest, 385), false},
        {"4096 bytes", SrpPad({2}, 4096), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SrpPublicValueAcceptable(c.value), c.acceptable) << c.name;
        SrpClientState client;
        auto proof = SrpClientCompute(client, SrpPassword("abc123"), c.value, SrpSalt(TestSalt()));
        EXPECT_EQ(!proof.second.empty(), c.acceptable) << c.name;
        EXPECT_EQ(client.ready, c.acceptable ? 1 : 0) << c.name;
    }
}

TEST(Srp, FinishBeforeStartIsRefused) {
    SrpServerState host(TestSalt());
    EXPECT_TRUE(SrpServerFinish(host, SrpPad({2}), Bytes(32, 1)).empty());
    EXPECT_TRUE(host.K.empty());
}

TEST(Srp, FailingRandomSourceRefusesInsteadOfGuessing) {
    Bytes v = SrpMakeVerifier(SrpSalt(TestSalt()), SrpPassword("abc123"));
    SrpServerState host(TestSalt());
    EXPECT_TRUE(SrpServerStart(host, v, FailingRandom()).empty());
    EXPECT_EQ(host.bReady, 0);
    EXPECT_TRUE(SrpServerFinish(host, SrpPad({2}), Bytes(32, 1)).empty());
    EXPECT_TRUE(RandomBytes32(FailingRandom()).empty());
    EXPECT_TRUE(SrpRandomExponent(FailingRandom()).empty());
    SrpClientState client;
    EXPECT_TRUE(SrpClientCompute(client, SrpPassword("x"), SrpPad({7}), SrpSalt(TestSalt()), FailingRandom())
                    .first.empty());
}

TEST(Srp, RandomExponentIsReducedAndNeverZero) {
    EXPECT_EQ(SrpRandomExponent(RepeatedByte(0)), SrpPad({1}));
    // N - 1 reduces to 0, which becomes 1.
    Bytes nMinus1 = SrpGroupPrime();
    nMinus1.back() -= 1;
    RandomFill giveNMinus1 = [&](uint8_t* out, size_t n) {
        std::memcpy(out, nMinus1.data(), n);
        return true;
    };
    EXPECT_EQ(SrpRandomExponent(giveNMinus1), SrpPad({1}));
    // All ones: 2^3072 - 1 is above N - 1, so the result is below it.
    Bytes r = SrpRandomExponent(RepeatedByte(0xff));
    ASSERT_EQ(r.size(), 384u);
    EXPECT_LT(BytesToHex(r), BytesToHex(nMinus1));
    EXPECT_EQ(SrpRandomExponent(SmallNumber(77)), SrpPad({77}));
}

TEST(Srp, ProofComparison) {
    EXPECT_TRUE(SrpProofsEqual({0, 0, 1, 2}, {1, 2}));
    EXPECT_TRUE(SrpProofsEqual({1, 2}, {0, 1, 2}));
    EXPECT_TRUE(SrpProofsEqual({5, 6, 7}, {5, 6, 7}));
    EXPECT_FALSE(SrpProofsEqual({1, 2}, {1, 3}));
    EXPECT_FALSE(SrpProofsEqual({1, 2}, {1, 2, 0}));
    EXPECT_FALSE(SrpProofsEqual({9, 1, 2}, {1, 2}));
    EXPECT_FALSE(SrpProofsEqual({}, {}));
    EXPECT_FALSE(SrpProofsEqual({}, {1}));
}

TEST(Srp, HexConversions) {
    EXPECT_EQ(HexToBytes("abc"), (Bytes{0x0a, 0xbc}));
    EXPECT_EQ(BytesToHex({0x0a, 0xbc}), "0abc");
    EXPECT_EQ(HexToBytes("ABcd"), (Bytes{0xab, 0xcd}));
    EXPECT_EQ(HexToBytes(""), Bytes{});
    EXPECT_EQ(HexToBytes("1g"), Bytes{0x01});
    EXPECT_EQ(HexToBytes("g1"), Bytes{0x00});
    EXPECT_EQ(HexToBytes("zz10"), (Bytes{0x00, 0x10}));
    EXPECT_EQ(BytesToHex({0x00, 0xff, 0x10}), "00ff10");
    EXPECT_EQ(BytesToHex({}), "");
}

}  // namespace
}  // namespace sv
