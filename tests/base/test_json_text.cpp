#include "base/json_text.h"

#include <gtest/gtest.h>

namespace {

TEST(JsonText, CompactSortedAndBadUtf8Replaced) {
    nlohmann::json j = nlohmann::json::object();
    j["type"] = "training-result";
    j["id"] = "x";
    j["ok"] = true;
    j["data"] = {{"text", std::string("caf\xC3\xA9 \xFF!")}};
    EXPECT_EQ(sv::SerializeJson(j),
              "{\"data\":{\"text\":\"caf\xC3\xA9 \xEF\xBF\xBD!\"},\"id\":\"x\",\"ok\":true,\"type\":\"training-result\"}");
}

TEST(JsonText, AnOrderedObjectKeepsTheOrderItWasBuiltIn) {
    nlohmann::ordered_json j;
    j["type"] = "host-register";
    j["hostId"] = "1\xC0";
    j["a"] = 1;
    EXPECT_EQ(sv::SerializeJson(j), "{\"type\":\"host-register\",\"hostId\":\"1\xEF\xBF\xBD\",\"a\":1}");
}

}  // namespace
