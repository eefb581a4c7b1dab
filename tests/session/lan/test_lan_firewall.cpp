#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/lan/lan_firewall.h"

namespace {

class FirewallRunner : public ::testing::Test {
protected:
    std::vector<std::wstring> Run(uint32_t addCode, uint32_t showCode, bool& result) {
        std::vector<std::wstring> seen;
        sv::HiddenCommandRunner run = [&](const std::wstring& line) -> uint32_t {
            seen.push_back(line.substr(0, line.find(L" name=")));
            if (line.find(L" add rule ") != std::wstring::npos) return addCode;
            if (line.find(L" show rule ") != std::wstring::npos) return showCode;
            return 1;  // the delete's result does not matter
        };
        result = sv::EnsureFirewallRule(47811, run);
        return seen;
    }
};

TEST_F(FirewallRunner, AddedRuleNeedsNoShow) {
    bool ok = false;
    auto seen = Run(0, 1, ok);
    EXPECT_TRUE(ok);
    std::vector<std::wstring> expected = {L"netsh advfirewall firewall delete rule",
                                          L"netsh advfirewall firewall add rule"};
    EXPECT_EQ(seen, expected);
}

TEST_F(FirewallRunner, FailedAddFallsBackToShow) {
    bool ok = false;
    EXPECT_EQ(Run(1, 0, ok).size(), 3u);
    EXPECT_TRUE(ok);
    Run(0xFFFFFFFFu, 1, ok);
    EXPECT_FALSE(ok);
}

}  // namespace
