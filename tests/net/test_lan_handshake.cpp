// The LAN handshake's messages and both host-side sequences, against an in-memory
// peer: no socket, so every refusal is checked byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "net/lan_handshake.h"
#include "net/srp.h"

namespace sv {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Salt() { return Bytes(32, 0x5a); }

RandomFill Repeated(uint8_t value) {
    return [value](uint8_t* out, size_t n) {
        std::memset(out, value, n);
        return true;
    };
}

Bytes Message(const Bytes& body) {
    Bytes out;
    EXPECT_TRUE(EncodeHandshakeMessage(body, out));
    return out;
}

// The controller's side: bytes queued for the host to read; when the host wants more,
// `respond` may look at what the host wrote and queue the next messages.
struct Peer {
    std::deque<uint8_t> toHost;
    Bytes fromHost;
    int reads = 0;
    std::function<void(Peer&)> respond;

    void Queue(const Bytes& bytes) { toHost.insert(toHost.end(), bytes.begin(), bytes.end()); }
    HandshakeRead Reader() {
        return [this](uint8_t* p, size_t n) {
            ++reads;
            if (toHost.size() < n && respond) {
                auto r = std::move(respond);
                respond = nullptr;
                r(*this);
            }
            if (toHost.size() < n) return false;
            for (size_t i = 0; i < n; ++i) {
                p[i] = toHost.front();
                toHost.pop_front();
            }
            return true;
        };
    }
    HandshakeWrite Writer() {
        return [this](const uint8_t* p, size_t n) {
            fromHost.insert(fromHost.end(), p, p + n);
            return true;
        };
    }
    // The host's messages so far.
    std::vector<Bytes> Messages() const {
        std::vector<Bytes> out;
        size_t at = 0;
        while (at + 4 <= fromHost.size()) {
            size_t n = (size_t(fromHost[at]) << 24) | (size_t(fromHost[at + 1]) << 16) |
                       (size_t(fromHost[at + 2]) << 8) | fromHost[at + 3];
            out.emplace_back(fromHost.begin() + at + 4, fromHost.begin() + at + 4 + n);
            at += 4 + n;
        }
        return out;
    }
};

// A real client's A and M1 for `password`, computed from the salt and B the host sent.
void AnswerWith(Peer& peer, const std::string& password, SrpClientState& client) {
    peer.respond = [password, &client](Peer& p) {
        std::vector<Bytes> m = p.Messages();
        ASSERT_EQ(m.size(), 2u);
        auto [A, M1] = SrpClientCompute(client, SrpPassword(password), m[1], SrpSalt(m[0]), Repeated(0x21));
        ASSERT_FALSE(A.empty());
        p.Queue(Message(A));
        p.Queue(Message(M1));
    };
}

TEST(LanHandshakeMessage, LengthPrefixAndBounds) {
    const Bytes wire = Message(Bytes(258, 1));
    ASSERT_EQ(wire.size(), 262u);
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 4), (Bytes{0, 0, 1, 2}));
    struct Case {
        Bytes wire;
        int32_t bound;
        bool ok;
        size_t size;
        int reads;  // a refused length never reads the body
    } cases[] = {
        {{0, 0, 0, 0}, 4096, true, 0, 2},
        {Message(Bytes(4096, 7)), 4096, true, 4096, 2},
        {Message(Bytes(4097, 7)), 4096, false, 0, 1},
        {{0x80, 0, 0, 1}, 4096, false, 0, 1},
        {{0xff, 0xff, 0xff, 0xff}, 4096, false, 0, 1},
        {{0, 0, 0, 5, 1, 2}, 4096, false, 0, 2},  // body cut short
        {{0, 0}, 4096, false, 0, 1},
    };
    for (const Case& c : cases) {
        Peer peer;
        peer.Queue(c.wire);
        Bytes out = {9};
        EXPECT_EQ(ReadHandshakeMessageFrom(peer.Reader(), out, c.bound), c.ok);
        if (c.ok) {
            EXPECT_EQ(out.size(), c.size);
        }
        EXPECT_EQ(peer.reads, c.reads);
    }
}

TEST(LanHandshake, RightPasswordGivesTheKeyBothSidesShare) {
    const Bytes verifier = SrpMakeVerifier(SrpSalt(Salt()), SrpPassword("kata sandi"));
    Peer peer;
    SrpClientState client;
    AnswerWith(peer, "kata sandi", client);
    Bytes key;
    ASSERT_TRUE(RunHostHandshake(peer.Reader(), peer.Writer(), Salt(), verifier, key, Repeated(0x42)));
    EXPECT_EQ(key.size(), 32u);
    EXPECT_EQ(key, client.K);
    std::vector<Bytes> m = peer.Messages();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0], Salt());
    EXPECT_EQ(m[1].size(), kSrpNumberBytes);
    EXPECT_TRUE(SrpClientCheckM2(client, m[2]));
}

TEST(LanHandshake, RefusalsEndWithTheEmptyMessageAndNoKey) {
    const Bytes verifier = SrpMakeVerifier(SrpSalt(Salt()), SrpPassword("kata sandi"));
    struct Case {
        const char* name;
        Bytes salt;
        std::function<void(Peer&, SrpClientState&)> script;
        size_t messages;      // what the host wrote
        bool endsWithRefusal;
    } cases[] = {
        {"wrong password", Salt(), [](Peer& p, SrpClientState& c) { AnswerWith(p, "salah", c); }, 3, true},
        {"A of zero", Salt(),
         [](Peer& p, SrpClientState&) {
             p.Queue(Message(Bytes(kSrpNumberBytes, 0)));
             p.Queue(Message(Bytes(32, 1)));
         },
         3, true},
        {"A equal to N", Salt(),
         [](Peer& p, SrpClientState&) {
             p.Queue(Message(SrpGroupPrime()));
             p.Queue(Message(Bytes(32, 1)));
         },
         3, true},
        {"peer hangs up", Salt(), [](Peer&, SrpClientState&) {}, 2, false},
        {"no secrets to prove against", Bytes{}, [](Peer&, SrpClientState&) {}, 1, true},
    };
    for (const Case& c : cases) {
        Peer peer;
        SrpClientState client;
        c.script(peer, client);
        Bytes key = {1};
        EXPECT_FALSE(RunHostHandshake(peer.Reader(), peer.Writer(), c.salt, verifier, key, Repeated(0x42))) << c.name;
        EXPECT_TRUE(key.empty()) << c.name;
        std::vector<Bytes> m = peer.Messages();
        ASSERT_EQ(m.size(), c.messages) << c.name;
        if (c.endsWithRefusal) {
            EXPECT_TRUE(m.back().empty()) << c.name;
        }
    }
}

TEST(LanHandshake, TicketModeLooksTheTicketUpFirst) {
    const Bytes verifier = SrpMakeVerifier(SrpSalt(Salt()), SrpPassword("rahasia"));
    std::vector<std::string> asked;
    HandshakeTicketLookup lookup = [&](const std::string& id, LanTicket& out) {
        asked.push_back(id);
        if (id != "tiket-1") return false;
        out = LanTicket{Salt(), verifier, "ctl-7"};
        return true;
    };
    {
        Peer peer;
        peer.Queue(Message(Bytes{'t', 'i', 'k', 'e', 't', '-', '1'}));
        SrpClientState client;
        AnswerWith(peer, "rahasia", client);
        std::string controller;
        Bytes key;
        ASSERT_TRUE(RunTicketHandshake(peer.Reader(), peer.Writer(), lookup, controller, key, Repeated(3)));
        EXPECT_EQ(controller, "ctl-7");
        EXPECT_EQ(key, client.K);
    }
    {
        Peer peer;  // unknown ticket: one empty message
        peer.Queue(Message(Bytes{'x'}));
        std::string controller;
        Bytes key;
        EXPECT_FALSE(RunTicketHandshake(peer.Reader(), peer.Writer(), lookup, controller, key));
        EXPECT_EQ(peer.Messages(), std::vector<Bytes>{Bytes{}});
        EXPECT_TRUE(controller.empty());
    }
    {
        Peer peer;  // empty id: nothing looked up, no reply
        peer.Queue(Message(Bytes{}));
        std::string controller;
        Bytes key;
        EXPECT_FALSE(RunTicketHandshake(peer.Reader(), peer.Writer(), lookup, controller, key));
        EXPECT_TRUE(peer.fromHost.empty());
    }
    EXPECT_EQ(asked, (std::vector<std::string>{"tiket-1", "x"}));
}

}  // namespace
}  // namespace sv
