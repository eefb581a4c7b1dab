// The LAN one-shot commands: fixed SRP vectors (known answers from an
// independent implementation) and the in-process self-test with its failure path.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>

#include "app/lan_self_test.h"

namespace sv {
namespace {

void StartWinsock() {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
}

TEST(LanSelfTest, SrpVectorsAreTheKnownSevenLines) {
    const std::string expected =
        "  x   = 5b2a0f95ee0af55e0c73c39ed04eeeec95b9a58655da0aafd19c4129c98cbbc6\n"
        "  k   = 081f4874fa543a371b49a670402fda59ecfab53a1b850fc42e1c357cc846111e\n"
        "  u   = b0fe2c3caddd597ac398faf8ca76d9329cc4be5bc0a4402c25f1d58573d4171e\n"
        "  M1  = ac708844e929c95b8b7fb7516430abda4f09bf857b7817efb2e1c24e36f5e98c\n"
        "  M2  = 8aff4d698e3459714fe55c23542bbb3c08655738ce8af7c5031caae2d00bfbda\n"
        "  key = 915bbf1db1ef8b7f83fa623ca69b163601af1d46b81ec972175259274ee7a87e\n"
        "  v   = f21d27a4f557aa35e88e22d93709af0480a7b69acc2d5827\n";
    EXPECT_EQ(FormatSrpVectors(), expected);
    EXPECT_EQ(FormatSrpVectors(), FormatSrpVectors());
    EXPECT_EQ(std::string(kSrpVectorA).size(), 47u);
    EXPECT_EQ(std::string(kSrpVectorB).size(), 46u);
    EXPECT_EQ(std::string(kSrpVectorS).size(), 52u);
    EXPECT_EQ(std::string(kSrpVectorPassword).size(), 6u);
}

TEST(LanSelfTest, PassesOverLoopback) {
    StartWinsock();
    std::string failures;
    LanSelfTestSeams seams;
    seams.makeSocketPair = MakeLoopbackSocketPair;
    seams.reportFailure = [&](const std::string& line) { failures += line; };
    EXPECT_TRUE(RunLanSelfTest(seams));
    EXPECT_EQ(failures, "");
}

TEST(LanSelfTest, SocketFailureIsReportedAndFails) {
    std::string failures;
    LanSelfTestSeams seams;
    seams.makeSocketPair = [](SOCKET&, SOCKET&) { return false; };
    seams.reportFailure = [&](const std::string& line) { failures += line; };
    EXPECT_FALSE(RunLanSelfTest(seams));
    EXPECT_EQ(failures, "[lan] socket failed\n");
}

TEST(LanSelfTest, ABrokenPairFailsTheFrameStepSilently) {
    StartWinsock();
    std::string failures;
    LanSelfTestSeams seams;
    // A pair whose far end is already gone: the proof passes, the frames cannot.
    seams.makeSocketPair = [](SOCKET& accepted, SOCKET& connected) {
        if (!MakeLoopbackSocketPair(accepted, connected)) return false;
        closesocket(accepted);
        accepted = INVALID_SOCKET;
        return true;
    };
    seams.reportFailure = [&](const std::string& line) { failures += line; };
    EXPECT_FALSE(RunLanSelfTest(seams));
    EXPECT_EQ(failures, "");
}

}  // namespace
}  // namespace sv
