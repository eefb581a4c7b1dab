// The LAN listener end to end over loopback: both modes, refusals, the
// lock-out with an injected clock, time-outs, and stopping under load.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net/lan_addresses.h"
#include "net/lan_server.h"
#include "net/lan_test_support.h"
#include "net/srp.h"

namespace sv {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes TestSalt() {
    Bytes salt(32);
    for (size_t i = 0; i < salt.size(); ++i) salt[i] = static_cast<uint8_t>(0x30 + i);
    return salt;
}

// From 127.0.0.1, or from the loopback address `source` when given.
SOCKET ConnectTo(uint16_t port, const char* source = nullptr) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (source) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, source, &from.sin_addr);
        if (bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
            closesocket(s);
            return INVALID_SOCKET;
        }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    sv_test::SetReceiveTimeout(s, 10000);
    return s;
}

// True when the peer closed the connection without sending another byte.
bool ClosedWithoutBytes(SOCKET s) {
    char byte;
    return recv(s, &byte, 1, 0) <= 0;
}

// The controller's side of the handshake, played with the client functions.
struct ClientRun {
    SOCKET socket = INVALID_SOCKET;
    bool gotSaltAndB = false;
    Bytes m2;
    bool m2Ok = false;
    SrpClientState state;
    ~ClientRun() {
        if (socket != INVALID_SOCKET) closesocket(socket);
    }
};

void RunClient(ClientRun& run, uint16_t port, const std::string& password, const std::string* ticketId = nullptr) {
    run.socket = ConnectTo(port);
    ASSERT_NE(run.socket, INVALID_SOCKET);
    if (ticketId) {
        ASSERT_TRUE(WriteHandshakeMessage(run.socket, Bytes(ticketId->begin(), ticketId->end())));
    }
    Bytes salt, B;
    if (!ReadHandshakeMessage(run.socket, salt, 4096) || salt.empty()) return;
    ASSERT_TRUE(ReadHandshakeMessage(run.socket, B, 4096));
    ASSERT_EQ(B.size(), 384u);
    run.gotSaltAndB = true;
    auto proof = SrpClientCompute(run.state, SrpPassword(password), B, SrpSalt(salt));
    ASSERT_TRUE(WriteHandshakeMessage(run.socket, proof.first));
    ASSERT_TRUE(WriteHandshakeMessage(run.socket, proof.second));
    ASSERT_TRUE(ReadHandshakeMessage(run.socket, run.m2, 4096));
    run.m2Ok = !run.m2.empty() && SrpClientCheckM2(run.state, run.m2);
}

// Collects the channels the server hands over.
struct Inbox {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::unique_ptr<SecureChannel>> channels;
    std::vector<std::pair<std::string, std::string>> ids;  // controller id, peer address
    void Add(std::unique_ptr<SecureChannel> c, std::string controllerId = {}, std::string peer = {}) {
        std::lock_guard<std::mutex> lock(mutex);
        channels.push_back(std::move(c));
        ids.emplace_back(std::move(controllerId), std::move(peer));
        cv.notify_all();
    }
    SecureChannel* Wait(size_t index) {
        std::unique_lock<std::mutex> lock(mutex);
        if (!cv.wait_for(lock, std::chrono::seconds(10), [&] { return channels.size() > index; })) return nullptr;
        return channels[index].get();
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return channels.size();
    }
};

template <typename Pred>
bool WaitFor(Pred pred, int ms = 10000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pred();
}

struct LanServerTest : ::testing::Test {
    uint64_t now = 5000000;
    std::shared_ptr<LanLockout> lockout;
    Inbox inbox;
    std::unique_ptr<LanServer> server;
    const std::string peer = kLocalPeer;  // every loopback source

    void SetUp() override {
        sv_test::EnsureWinsock();
        lockout = std::make_shared<LanLockout>([this] { return now; });
        server = std::make_unique<LanServer>();
        server->SetLockout(lockout);
    }
    void TearDown() override {
        if (server) server->Stop();
    }
    void StartPassword(const std::string& password) {
        Bytes verifier = SrpMakeVerifier(SrpSalt(TestSalt()), SrpPassword(password));
        server->InitForPassword(0, TestSalt(), verifier, [this](std::unique_ptr<SecureChannel> c) { inbox.Add(std::move(c)); });
        server->Start();
        ASSERT_TRUE(server->IsListening());
        ASSERT_NE(server->BoundPort(), 0);
    }
    void FailWithWrongPassword() {
        ClientRun run;
        RunClient(run, server->BoundPort(), "nope00");
        ASSERT_TRUE(run.gotSaltAndB);
        EXPECT_TRUE(run.m2.empty());
        EXPECT_TRUE(ClosedWithoutBytes(run.socket));
    }
    int Failures() { return lockout->Failures(peer); }
};

TEST_F(LanServerTest, RightPasswordOpensAChannelBothWays) {
    StartPassword("abc123");
    ClientRun run;
    RunClient(run, server->BoundPort(), "abc123");
    ASSERT_TRUE(run.m2Ok);
    SecureChannel* host = inbox.Wait(0);
    ASSERT_NE(host, nullptr);
    SecureChannel client(run.socket, run.state.K, kRoleClient);
    run.socket = INVALID_SOCKET;
    ASSERT_TRUE(client.SendFrame({'p', 'i', 'n', 'g'}, kFrameTypeText));
    Bytes payload;
    bool binary;
    ASSERT_TRUE(host->ReceiveFrame(payload, binary));
    EXPECT_EQ(payload, (Bytes{'p', 'i', 'n', 'g'}));
    ASSERT_TRUE(host->SendFrame({1, 2, 3}, kFrameTypeBinary));
    ASSERT_TRUE(client.ReceiveFrame(payload, binary));
    EXPECT_TRUE(binary);
    EXPECT_EQ(payload, (Bytes{1, 2, 3}));
    EXPECT_EQ(lockout->Size(), 0u);
}

TEST_F(LanServerTest, WrongPasswordGetsAnEmptyMessageAndCounts) {
    StartPassword("abc123");
    FailWithWrongPassword();
    EXPECT_TRUE(WaitFor([&] { return Failures() == 1; }));
    EXPECT_EQ(inbox.Count(), 0u);
}

TEST_F(LanServerTest, LockedOutAfterFiveFailuresThenOneMoreAfterThirtySeconds) {
    StartPassword("abc123");
    for (int i = 0; i < 5; ++i) {
        FailWithWrongPassword();
        ASSERT_TRUE(WaitFor([&] { return Failures() == i + 1; }));
    }
    {
        SOCKET s = ConnectTo(server->BoundPort());
        ASSERT_NE(s, INVALID_SOCKET);
        EXPECT_TRUE(ClosedWithoutBytes(s));  // not even the salt
        closesocket(s);
    }
    now += 30000;
    FailWithWrongPassword();
    ASSERT_TRUE(WaitFor([&] { return Failures() == 6; }));
    EXPECT_EQ(lockout->LockedUntil(peer), now + 60000);
    SOCKET s = ConnectTo(server->BoundPort());
    EXPECT_TRUE(ClosedWithoutBytes(s));
    closesocket(s);
}

// A local user cannot step round the lock-out by picking another loopback source.
TEST_F(LanServerTest, EveryLoopbackSourceSharesOneLockOut) {
    StartPassword("abc123");
    for (int i = 0; i < 5; ++i) {
        FailWithWrongPassword();
        ASSERT_TRUE(WaitFor([&] { return Failures() == i + 1; }));
    }
    for (const char* source : {"127.0.0.2", "127.1.2.3"}) {
        SOCKET s = ConnectTo(server->BoundPort(), source);
        ASSERT_NE(s, INVALID_SOCKET) << source;
        EXPECT_TRUE(ClosedWithoutBytes(s)) << source;
        closesocket(s);
    }
    EXPECT_EQ(lockout->Size(), 1u);
}

TEST_F(LanServerTest, SuccessAfterFourFailuresClearsTheCount) {
    StartPassword("abc123");
    for (int i = 0; i < 4; ++i) {
        FailWithWrongPassword();
        ASSERT_TRUE(WaitFor([&] { return Failures() == i + 1; }));
    }
    {
        ClientRun run;
        RunClient(run, server->BoundPort(), "abc123");
        ASSERT_TRUE(run.m2Ok);
        ASSERT_NE(inbox.Wait(0), nullptr);
    }
    EXPECT_TRUE(WaitFor([&] { return lockout->Size() == 0; }));
    FailWithWrongPassword();
    EXPECT_TRUE(WaitFor([&] { return Failures() == 1; }));
}

TEST_F(LanServerTest, ParallelConnectionsCannotBypassTheLimit) {
    server->SetHandshakeTimeoutMs(5000);
    StartPassword("abc123");
    // Five silent connections hold every slot of this address.
    std::vector<SOCKET> held;
    for (int i = 0; i < 5; ++i) {
        SOCKET s = ConnectTo(server->BoundPort());
        Bytes salt;
        ASSERT_TRUE(ReadHandshakeMessage(s, salt, 4096));  // served
        held.push_back(s);
    }
    ASSERT_TRUE(WaitFor([&] { return lockout->InFlight(peer) == 5; }));
    SOCKET sixth = ConnectTo(server->BoundPort());
    EXPECT_TRUE(ClosedWithoutBytes(sixth));
    closesocket(sixth);
    for (SOCKET s : held) closesocket(s);
    EXPECT_TRUE(WaitFor([&] { return lockout->InFlight(peer) == 0 && Failures() == 5; }));
}

TEST_F(LanServerTest, SilentPeerTimesOutAndCountsAsAFailure) {
    server->SetHandshakeTimeoutMs(300);
    StartPassword("abc123");
    SOCKET s = ConnectTo(server->BoundPort());
    Bytes salt, B;
    ASSERT_TRUE(ReadHandshakeMessage(s, salt, 4096));
    ASSERT_TRUE(ReadHandshakeMessage(s, B, 4096));
    EXPECT_TRUE(ClosedWithoutBytes(s));  // the host gave up waiting for A
    closesocket(s);
    EXPECT_TRUE(WaitFor([&] { return Failures() == 1; }));
}

// Each byte arrives well within the per-read time-out, yet the handshake as a whole
// ends at its bound: a few such peers must not fill the handshake slots for good.
TEST_F(LanServerTest, TricklingPeerIsCutAtTheHandshakeBound) {
    server->SetHandshakeTimeoutMs(600);
    StartPassword("abc123");
    SOCKET s = ConnectTo(server->BoundPort());
    Bytes salt, B;
    ASSERT_TRUE(ReadHandshakeMessage(s, salt, 4096));
    ASSERT_TRUE(ReadHandshakeMessage(s, B, 4096));
    uint8_t header[4] = {0x00, 0x00, 0x01, 0x80};  // A announced: 384 bytes
    ASSERT_TRUE(SendAll(s, header, 4));
    bool cut = false;
    for (int i = 0; i < 384 && !cut; ++i) {  // 384 bytes, 100 ms apart: 38 s if never cut
        uint8_t b = 0x11;
        cut = send(s, reinterpret_cast<const char*>(&b), 1, 0) != 1;
        if (!cut) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(s, &readable);
            timeval wait{0, 100000};
            // The host closing shows as readable (end of stream or reset).
            cut = select(0, &readable, nullptr, nullptr, &wait) > 0;
        }
    }
    EXPECT_TRUE(cut);
    closesocket(s);
    EXPECT_TRUE(WaitFor([&] { return Failures() == 1; }));
}

TEST_F(LanServerTest, OversizeHandshakeMessageIsRefused) {
    StartPassword("abc123");
    SOCKET s = ConnectTo(server->BoundPort());
    Bytes salt, B;
    ASSERT_TRUE(ReadHandshakeMessage(s, salt, 4096));
    ASSERT_TRUE(ReadHandshakeMessage(s, B, 4096));
    uint8_t header[4] = {0x00, 0x00, 0x10, 0x01};  // 4097
    ASSERT_TRUE(SendAll(s, header, 4));
    EXPECT_TRUE(ClosedWithoutBytes(s));
    closesocket(s);
    EXPECT_TRUE(WaitFor([&] { return Failures() == 1; }));
}

TEST_F(LanServerTest, StartTwiceKeepsTheFirstListener) {
    StartPassword("abc123");
    uint16_t port = server->BoundPort();
    server->Start();
    EXPECT_TRUE(server->IsListening());
    EXPECT_EQ(server->BoundPort(), port);
}

// A port another listener holds is refused, not shared: a shared port would be reported
// as listening while the peers' connections went to whichever socket the system chose.
// The port is free again for the next start once the listener has stopped, even after a
// connection it accepted.
TEST_F(LanServerTest, APortHeldByAnotherListenerIsRefusedAndFreeAgainAfterStop) {
    StartPassword("abc123");
    const uint16_t port = server->BoundPort();
    FailWithWrongPassword();
    LanServer second;
    Bytes verifier = SrpMakeVerifier(SrpSalt(TestSalt()), SrpPassword("abc123"));
    second.InitForPassword(port, TestSalt(), verifier, [](std::unique_ptr<SecureChannel>) {});
    second.Start();
    EXPECT_FALSE(second.IsListening());
    EXPECT_NE(second.ListenError(), 0);
    second.Stop();
    server->Stop();
    LanServer again;
    again.InitForPassword(port, TestSalt(), verifier, [](std::unique_ptr<SecureChannel>) {});
    again.Start();
    EXPECT_TRUE(again.IsListening());
    again.Stop();
}

TEST_F(LanServerTest, StopCutsHandshakesInProgressWithoutCountingThem) {
    server->SetHandshakeTimeoutMs(60000);
    StartPassword("abc123");
    SOCKET s = ConnectTo(server->BoundPort());
    Bytes salt;
    ASSERT_TRUE(ReadHandshakeMessage(s, salt, 4096));
    ASSERT_TRUE(WaitFor([&] { return lockout->InFlight(peer) == 1; }));
    auto started = std::chrono::steady_clock::now();
    server->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_FALSE(server->IsListening());
    EXPECT_EQ(lockout->InFlight(peer), 0);
    EXPECT_EQ(Failures(), 0);
    closesocket(s);
    // And it listens again after a restart.
    server->Start();
    ASSERT_TRUE(server->IsListening());
    ClientRun run;
    RunClient(run, server->BoundPort(), "abc123");
    EXPECT_TRUE(run.m2Ok);
}

TEST_F(LanServerTest, ServerWithoutSecretsRefusesEveryone) {
    server->InitForPassword(0, {}, {}, [this](std::unique_ptr<SecureChannel> c) { inbox.Add(std::move(c)); });
    server->Start();
    ASSERT_TRUE(server->IsListening());
    SOCKET s = ConnectTo(server->BoundPort());
    Bytes first;
    ASSERT_TRUE(ReadHandshakeMessage(s, first, 4096));
    EXPECT_TRUE(first.empty());
    EXPECT_TRUE(ClosedWithoutBytes(s));
    closesocket(s);
}

struct TicketServerTest : LanServerTest {
    std::mutex ticketMutex;
    std::map<std::string, LanTicket> tickets;
    void StartTickets() {
        server->SetAddressSource([] { return std::vector<std::string>{}; });
        server->InitForTickets(
            0,
            [this](const std::string& id, LanTicket& out) {
                std::lock_guard<std::mutex> lock(ticketMutex);
                auto it = tickets.find(id);
                if (it == tickets.end()) return false;
                out = it->second;
                tickets.erase(it);  // one use
                return true;
            },
            [this](std::unique_ptr<SecureChannel> c, const std::string& controllerId, const std::string& peerAddress) {
                inbox.Add(std::move(c), controllerId, peerAddress);
            });
        server->Start();
        ASSERT_TRUE(server->IsListening());
    }
    void AddTicket(const std::string& id, const std::string& secret, const std::string& controller) {
        LanTicket t;
        t.salt = RandomBytes32();
        t.verifier = SrpMakeVerifier(SrpSalt(t.salt), SrpPassword(secret));
        t.controllerId = controller;
        std::lock_guard<std::mutex> lock(ticketMutex);
        tickets[id] = t;
    }
};

TEST_F(TicketServerTest, GoodTicketOpensAChannelForItsController) {
    StartTickets();
    AddTicket("t-1", "s3cret-ticket", "ctrl-9");
    std::string id = "t-1";
    ClientRun run;
    RunClient(run, server->BoundPort(), "s3cret-ticket", &id);
    ASSERT_TRUE(run.m2Ok);
    ASSERT_NE(inbox.Wait(0), nullptr);
    std::lock_guard<std::mutex> lock(inbox.mutex);
    EXPECT_EQ(inbox.ids[0].first, "ctrl-9");
    EXPECT_EQ(inbox.ids[0].second, "127.0.0.1");
}

TEST_F(TicketServerTest, UnknownOrReusedTicketGetsOneEmptyMessage) {
    StartTickets();
    AddTicket("t-1", "s3cret-ticket", "ctrl-9");
    std::string id = "t-1";
    {
        ClientRun run;
        RunClient(run, server->BoundPort(), "s3cret-ticket", &id);
        ASSERT_TRUE(run.m2Ok);
    }
    ClientRun again;
    RunClient(again, server->BoundPort(), "s3cret-ticket", &id);
    EXPECT_FALSE(again.gotSaltAndB);
    EXPECT_TRUE(ClosedWithoutBytes(again.socket));
    EXPECT_TRUE(WaitFor([&] { return Failures() == 1; }));
}

TEST_F(TicketServerTest, EmptyTicketIdFailsWithoutReply) {
    StartTickets();
    SOCKET s = ConnectTo(server->BoundPort());
    ASSERT_TRUE(WriteHandshakeMessage(s, {}));
    EXPECT_TRUE(ClosedWithoutBytes(s));
    closesocket(s);
    EXPECT_TRUE(WaitFor([&] { return Failures() == 1; }));
}

TEST_F(TicketServerTest, TicketIdAboveTheBoundIsRefusedBeforeItsBody) {
    StartTickets();
    SOCKET s = ConnectTo(server->BoundPort());
    uint8_t header[4] = {0x00, 0x00, 0x10, 0x01};  // 4097, and no body follows
    ASSERT_TRUE(SendAll(s, header, 4));
    EXPECT_TRUE(ClosedWithoutBytes(s));
    closesocket(s);
    EXPECT_TRUE(WaitFor([&] { return Failures() == 1; }));
}

TEST_F(TicketServerTest, WrongSecretGetsAnEmptyM2) {
    StartTickets();
    AddTicket("t-2", "right-secret", "ctrl-1");
    std::string id = "t-2";
    ClientRun run;
    RunClient(run, server->BoundPort(), "wrong-secret", &id);
    ASSERT_TRUE(run.gotSaltAndB);
    EXPECT_TRUE(run.m2.empty());
    EXPECT_TRUE(ClosedWithoutBytes(run.socket));
    EXPECT_EQ(inbox.Count(), 0u);
}

TEST(LanAddresses, LocalListAlwaysEndsWithLoopback) {
    sv_test::EnsureWinsock();
    std::vector<std::string> local = ListLocalAddresses();
    ASSERT_FALSE(local.empty());
    EXPECT_EQ(local.back(), "127.0.0.1");
    for (const std::string& a : ListPrivateAddresses()) EXPECT_TRUE(IsPrivateIPv4(a)) << a;
}

}  // namespace
}  // namespace sv
