#include <gtest/gtest.h>

#include "session/lan/lan_settings.h"
#include "session/lan/lan_tickets.h"

namespace {

TEST(LanPort, CommandLineWinsAndFileDecidesOtherwise) {
    EXPECT_EQ(sv::ChooseLanPort(0, std::nullopt), 0);
    EXPECT_EQ(sv::ChooseLanPort(6000, std::string(R"({"LanDirectEnabled":true,"LanPort":5000})")), 6000);
    EXPECT_EQ(sv::ChooseLanPort(-1, std::string(R"({"LanDirectEnabled":true})")), -1);
    EXPECT_EQ(sv::ChooseLanPort(0, std::string(R"({"lanDirectEnabled":true})")), 47811);
    EXPECT_EQ(sv::ChooseLanPort(0, std::string(R"({"LanDirectEnabled":true,"LanPort":0,"lanPort":5000})")), 5000);
    EXPECT_EQ(sv::ChooseLanPort(0, std::string(R"({"LanDirectEnabled":false,"lanDirectEnabled":true,"lanPort":9})")),
              9);
    EXPECT_EQ(sv::ChooseLanPort(0, std::string(R"({"LanDirectEnabled":true,"LanPort":-5,"lanPort":-6})")), 47811);
    EXPECT_EQ(sv::ChooseLanPort(0, std::string(R"({"LanPort":5000})")), 0);
    // A command-line port beyond TCP's range is no port: off, as the same file setting is.
    EXPECT_EQ(sv::ChooseLanPort(65535, std::nullopt), 65535);
    EXPECT_EQ(sv::ChooseLanPort(65536, std::string(R"({"LanDirectEnabled":true})")), 0);
}

TEST(LanPort, BrokenFilesTurnLanDirectOff) {
    const char* off[] = {
        "",
        "not json",
        "[true]",
        R"({"LanDirectEnabled":"yes"})",
        R"({"LanDirectEnabled":1})",
        R"({"LanDirectEnabled":true,"LanPort":"5000"})",
        R"({"LanDirectEnabled":true,"LanPort":50.5})",
        R"({"LanDirectEnabled":true,"LanPort":0,"lanPort":null})",
        R"({"LanDirectEnabled":true,"LanPort":70000})",
    };
    for (const char* text : off) EXPECT_EQ(sv::ChooseLanPort(0, std::string(text)), 0) << text;
}

// A file that asks for LAN direct and turns it off with the same breath says which value
// did it; a file that never asked stays quiet.
TEST(LanPort, AValueThatTurnsAskedForLanDirectOffIsNamed) {
    const struct {
        const char* text;
        const char* problem;
    } cases[] = {
        {R"({"LanDirectEnabled":true,"LanPort":70000})",
         R"("LanPort" is 70000, which is no port; give it a port from 1 to 65535)"},
        {R"({"LanDirectEnabled":true,"LanPort":0,"lanPort":65536})",
         R"("lanPort" is 65536, which is no port; give it a port from 1 to 65535)"},
        {R"({"lanDirectEnabled":true,"LanPort":"5000"})",
         R"("LanPort" is "5000", which is no port; give it a port from 1 to 65535)"},
        {R"({"LanDirectEnabled":"yes"})", R"("LanDirectEnabled" is "yes", not true or false; give it true or false)"},
        {R"({"LanDirectEnabled":false,"lanDirectEnabled":null})",
         R"("lanDirectEnabled" is null, not true or false; give it true or false)"},
        // Shown cut short, and escaped as JSON: the file is anybody's text.
        {R"({"LanDirectEnabled":true,"LanPort":"\u001b[2J0123456789012345678901234567890123"})",
         R"("LanPort" is "\u001b[2J012345678901234567890123456789..., which is no port; give it a port from 1 to 65535)"},
        {R"({"LanDirectEnabled":true,"LanPort":5000})", ""},
        {R"({"LanDirectEnabled":false,"LanPort":70000})", ""},
        {"not json", ""},
    };
    for (const auto& c : cases) {
        const sv::LanPortChoice choice = sv::ChooseLanPortSaying(0, std::string(c.text));
        EXPECT_EQ(choice.problem, c.problem) << c.text;
        EXPECT_EQ(choice.port, sv::ChooseLanPort(0, std::string(c.text))) << c.text;
    }
    // The command line's own value is said where it is read.
    EXPECT_EQ(sv::ChooseLanPortSaying(99999, std::string(R"({"LanDirectEnabled":true})")).problem, "");
}

TEST(LanPath, AllOnLanNeedsEveryJoinedControllerWithAChannel) {
    EXPECT_FALSE(sv::AllControllersOnLan({}, 0, {}));
    EXPECT_TRUE(sv::AllControllersOnLan({"a"}, 1, {"a"}));
    EXPECT_FALSE(sv::AllControllersOnLan({"a", "b"}, 2, {"a"}));
    EXPECT_TRUE(sv::AllControllersOnLan({"a", "b"}, 2, {"b", "a", "a"}));
    // A password-mode peer is counted but has no id.
    EXPECT_FALSE(sv::AllControllersOnLan({"a"}, 2, {"a"}));
}

TEST(Firewall, CommandsNameTheRuleThePortAndTheProgram) {
    sv::FirewallCommands c = sv::BuildFirewallCommands(47811, L"C:\\Program Files\\Sorvane\\host.exe");
    EXPECT_EQ(c.deleteRule, L"netsh advfirewall firewall delete rule name=\"Sorvane LAN Direct Win7\"");
    EXPECT_EQ(c.addRule,
              L"netsh advfirewall firewall add rule name=\"Sorvane LAN Direct Win7\" description=\"Sorvane: incoming "
              L"direct connections on the local network.\" dir=in action=allow enable=yes profile=private "
              L"protocol=TCP localport=47811 program=\"C:\\Program Files\\Sorvane\\host.exe\"");
    EXPECT_EQ(c.showRule, L"netsh advfirewall firewall show rule name=\"Sorvane LAN Direct Win7\"");
}

sv::LanTicketRecord Ticket(const std::string& controller) {
    sv::LanTicketRecord r;
    r.salt = {1, 2};
    r.verifier = {3};
    r.controllerId = controller;
    return r;
}

TEST(LanTickets, AtMostEightLiveAndRoomAgainAfterExpiry) {
    sv::LanTicketTable table;
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(table.Store("t" + std::to_string(i), Ticket("c"), 1000 + i));
    EXPECT_FALSE(table.Store("t8", Ticket("c"), 1010));
    EXPECT_FALSE(table.Store("t0", Ticket("c"), 1010));  // overwriting counts too
    // t0 expires at 31000: at that moment it no longer counts.
    EXPECT_TRUE(table.Store("t9", Ticket("c"), 31000));
    EXPECT_EQ(table.Size(), 8u);
}

TEST(LanTickets, OneUseAndExpiredTicketsFailAndVanish) {
    sv::LanTicketTable table;
    ASSERT_TRUE(table.Store("a", Ticket("c1"), 0));
    ASSERT_TRUE(table.Store("b", Ticket("c2"), 0));
    sv::LanTicketRecord out;
    EXPECT_TRUE(table.Take("a", 29999, out));
    EXPECT_EQ(out.controllerId, "c1");
    EXPECT_EQ(out.salt, (std::vector<uint8_t>{1, 2}));
    EXPECT_FALSE(table.Take("a", 29999, out));
    EXPECT_FALSE(table.Take("b", 31000, out));
    EXPECT_EQ(table.Size(), 0u);
    EXPECT_FALSE(table.Take("missing", 0, out));
}

TEST(LanTickets, RevokingAControllerDropsItsUnusedTickets) {
    sv::LanTicketTable table;
    table.Store("a", Ticket("c1"), 0);
    table.Store("b", Ticket("c2"), 0);
    table.Store("c", Ticket("c1"), 0);
    table.RemoveController("c1");
    sv::LanTicketRecord out;
    EXPECT_FALSE(table.Take("a", 1, out));
    EXPECT_FALSE(table.Take("c", 1, out));
    EXPECT_TRUE(table.Take("b", 1, out));
}

}  // namespace
