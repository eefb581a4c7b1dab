#include "session/relay/message_table.h"

#include <gtest/gtest.h>

namespace {

using sv::MessageSource;

TEST(MessageTable, TheSenderDependsOnWhereTheTextCameFrom) {
    struct Case {
        const char* text;
        MessageSource source;
        bool parsed;
        const char* type;
        const char* from;
    };
    const Case cases[] = {
        {R"({"type":"input","from":"c1"})", MessageSource::kRelay, true, "input", "c1"},
        {R"({"type":"input"})", MessageSource::kRelay, true, "input", ""},
        {R"({"type":"input","from":7})", MessageSource::kRelay, false, "", ""},
        {R"({"type":"input","from":null})", MessageSource::kRelay, true, "input", ""},
        // A ticket channel is its controller, a password-mode peer is "lan", whatever they write.
        {R"({"type":"input","from":"c9"})", MessageSource::kLanTicket, true, "input", "t1"},
        {R"({"type":"input","from":"c9"})", MessageSource::kLanPassword, true, "input", "lan"},
        {R"({"type":"input","from":7})", MessageSource::kLanPassword, true, "input", "lan"},
        {R"({"type":5})", MessageSource::kRelay, false, "", ""},
        {R"({"from":"c1"})", MessageSource::kRelay, false, "", ""},
        {R"(["type","input"])", MessageSource::kRelay, false, "", ""},
        {"not json", MessageSource::kLanTicket, false, "", ""},
        {"", MessageSource::kRelay, false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto msg = sv::ParseIncoming(c.text, c.source, "t1");
        ASSERT_EQ(msg.has_value(), c.parsed);
        if (!msg) continue;
        EXPECT_EQ(msg->type, c.type);
        EXPECT_EQ(msg->from, c.from);
        EXPECT_EQ(msg->source, c.source);
        EXPECT_TRUE(msg->body.is_object());
    }
}

}  // namespace
