#include "session/send_paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The state of the paths and what each send does, and what a frame must do then.
struct World {
    bool allOnLan = false;
    bool relayControllers = false;
    size_t lanChannels = 0;
    bool mediaAttached = false;
    bool mediaOk = true;
    bool relayOk = true;
    bool lanOk = true;
    std::vector<std::string> calls;

    sv::SendPaths Paths() {
        sv::SendPaths::Seams s;
        s.sendRelayText = [this](const std::string& t) {
            calls.push_back("relay text " + t);
            return relayOk;
        };
        s.sendRelayBinary = [this](const uint8_t*, size_t n) {
            calls.push_back("relay " + std::to_string(n));
            return relayOk;
        };
        s.sendMediaBinary = [this](const uint8_t*, size_t n) {
            calls.push_back("media " + std::to_string(n));
            return mediaOk;
        };
        s.mediaAttached = [this] { return mediaAttached; };
        s.relayControllers = [this] { return relayControllers; };
        s.allOnLan = [this] { return allOnLan; };
        s.lanChannels = [this] { return lanChannels; };
        s.sendToLan = [this](const std::vector<uint8_t>& bytes, uint8_t type) {
            calls.push_back("lan " + std::to_string(type) + " " + std::string(bytes.begin(), bytes.end()));
            return lanOk;
        };
        return sv::SendPaths(s);
    }
};

TEST(SendPaths, AFrameGoesWhereItsWatchersAreAndReportsTheirPath) {
    struct Case {
        const char* what;
        bool allOnLan, relayControllers;
        size_t lanChannels;
        bool mediaAttached, mediaOk, relayOk, lanOk;
        std::vector<std::string> calls;
        bool result;
    };
    const Case cases[] = {
        {"relay only", false, true, 0, false, true, true, true, {"relay 3"}, true},
        {"relay fails", false, true, 0, false, true, false, true, {"relay 3"}, false},
        {"media once attached", false, true, 0, true, true, true, true, {"media 3"}, true},
        {"media fails: the relay in the same call", false, true, 0, true, false, true, true, {"media 3", "relay 3"}, true},
        {"both fail", false, true, 0, true, false, false, true, {"media 3", "relay 3"}, false},
        // Relay controllers and a LAN peer: the relay's result counts, whatever the LAN did.
        {"relay dropped, LAN took it", false, true, 1, false, true, false, true, {"relay 3", "lan 1 abc"}, false},
        {"relay took it, LAN failed", false, true, 1, false, true, true, false, {"relay 3", "lan 1 abc"}, true},
        // Nobody left on the relay but a LAN peer: the LAN decides.
        {"only a LAN peer", false, false, 1, false, true, false, true, {"relay 3", "lan 1 abc"}, true},
        {"only a LAN peer, LAN failed", false, false, 1, false, true, true, false, {"relay 3", "lan 1 abc"}, false},
        // Everybody on the LAN: the relay carries nothing.
        {"all on the LAN", true, true, 2, true, true, true, true, {"lan 1 abc"}, true},
        {"all on the LAN, LAN failed", true, true, 2, true, true, true, false, {"lan 1 abc"}, false},
        {"all on the LAN, no channel left", true, true, 0, false, true, true, true, {}, false},
    };
    const uint8_t frame[3] = {'a', 'b', 'c'};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        World w;
        w.allOnLan = c.allOnLan;
        w.relayControllers = c.relayControllers;
        w.lanChannels = c.lanChannels;
        w.mediaAttached = c.mediaAttached;
        w.mediaOk = c.mediaOk;
        w.relayOk = c.relayOk;
        w.lanOk = c.lanOk;
        EXPECT_EQ(w.Paths().SendBinary(frame, sizeof frame), c.result);
        EXPECT_EQ(w.calls, c.calls);
    }
}

TEST(SendPaths, TextGoesToTheRelayAndToEveryLanChannelAsText) {
    const struct {
        size_t lanChannels;
        std::vector<std::string> calls;
    } cases[] = {
        {0, {"relay text hi"}},
        {2, {"relay text hi", "lan 0 hi"}},
    };
    for (const auto& c : cases) {
        World w;
        w.lanChannels = c.lanChannels;
        w.relayOk = false;  // a failed relay send keeps nothing from the LAN
        w.Paths().SendText("hi");
        EXPECT_EQ(w.calls, c.calls) << c.lanChannels;
    }
}

}  // namespace
