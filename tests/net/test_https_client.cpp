// One HTTPS request against a loopback peer that never answers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "net/https_client.h"
#include "net/ws_test_server.h"
#include "test_support.h"

namespace {

// A server that takes the connection and then says nothing: the request ends at its
// time-out with no response, instead of holding its caller (an enrolment, a telemetry
// flush) for as long as the server likes.
TEST(HttpRequest, ASilentServerEndsTheRequestAtItsTimeOut) {
    const std::string bundle = sv_test::ExeDir() + "\\cacert.pem";
    if (sv_test::ReadFile(bundle).empty()) GTEST_SKIP() << "no cacert.pem beside the tests";
    std::atomic<bool> accepted{false};
    sv_test::RawServer server([&](sv_test::RawPeer& p) {
        accepted.store(true);
        char c;
        while (recv(p.Handle(), &c, 1, 0) > 0) {
        }
    });
    const auto start = std::chrono::steady_clock::now();
    sv::HttpResponse r = sv::HttpRequest("POST", "https://127.0.0.1:" + std::to_string(server.Port()) + "/x", "{}",
                                         bundle.c_str(), 600);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.body.empty());
    // And says why: the server never finished the TLS opening.
    EXPECT_EQ(r.failure, sv::HttpFailure::Connect);
    EXPECT_EQ(r.connectFailure, sv::ConnectFailure::HandshakeTimedOut);
    // It did reach the server and wait for it, and gave up at about its time-out.
    EXPECT_TRUE(accepted.load());
    EXPECT_GE(took, std::chrono::milliseconds(500));
    EXPECT_LT(took, std::chrono::seconds(10));
    // And it let go of the connection.
    EXPECT_TRUE(server.WaitDone());
}

}  // namespace
