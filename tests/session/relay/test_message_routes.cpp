#include "session/relay/message_routes.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using sv::MessageSource;

// Routes that note which one ran; "boom" throws what its message's "what" says.
struct Recorder {
    std::vector<std::string> ran;
    std::vector<std::string> audit;

    sv::MessageRoutes Routes() {
        auto note = [this](const std::string& name) {
            return [this, name](const sv::IncomingMessage& m) { ran.push_back(name + " " + m.from); };
        };
        return sv::MessageRoutes(
            {
                {"registered", true, note("registered")},
                {"input", false, note("input")},
                {"input", false, note("second input")},  // never reached: the first match wins
                {"boom", false,
                 [this](const sv::IncomingMessage& m) {
                     ran.push_back("boom");
                     throw std::runtime_error(m.body.value("what", ""));
                 }},
                {"empty", false, nullptr},
            },
            [this](const std::string& kind, const std::string& detail, const std::string& actor) {
                audit.push_back(kind + " | " + actor + " | " + detail);
            });
    }
};

TEST(MessageRoutes, EachTextReachesTheFirstRouteOfItsTypeWhereItsSourceMaySendIt) {
    struct Case {
        const char* text;
        MessageSource source;
        std::vector<std::string> ran;
        std::vector<std::string> audit;
    };
    const Case cases[] = {
        {R"({"type":"input","from":"c1"})", MessageSource::kRelay, {"input c1"}, {}},
        {R"({"type":"input","from":"c1"})", MessageSource::kLanPassword, {"input lan"}, {}},
        {R"({"type":"input","from":"c1"})", MessageSource::kLanTicket, {"input t1"}, {}},
        // Only the relay speaks for the relay: a LAN peer's copy is dropped.
        {R"({"type":"registered"})", MessageSource::kRelay, {"registered "}, {}},
        {R"({"type":"registered"})", MessageSource::kLanPassword, {}, {}},
        {R"({"type":"registered"})", MessageSource::kLanTicket, {}, {}},
        // Another type's name inside a message changes nothing.
        {R"({"type":"input","note":"\"registered","from":"c"})", MessageSource::kRelay, {"input c"}, {}},
        // A handler's exception is audited under its type and sender.
        {R"({"type":"boom","what":"bad x","from":"c2"})", MessageSource::kRelay, {"boom"},
         {"dispatch | c2 | handler failed: boom: bad x"}},
        // Noise: nothing runs, nothing is audited.
        {R"({"type":"unknown-type"})", MessageSource::kRelay, {}, {}},
        {R"({"type":"empty"})", MessageSource::kRelay, {}, {}},
        {R"({"type":5})", MessageSource::kRelay, {}, {}},
        {"[1,2,3]", MessageSource::kRelay, {}, {}},
        {"not json", MessageSource::kLanPassword, {}, {}},
        {"", MessageSource::kRelay, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Recorder r;
        sv::MessageRoutes routes = r.Routes();
        routes.DispatchText(c.text, c.source, "t1");
        EXPECT_EQ(r.ran, c.ran);
        EXPECT_EQ(r.audit, c.audit);
    }
}

TEST(MessageRoutes, AFailedHandlerLeavesTheNextMessageToBeHandled) {
    Recorder r;
    sv::MessageRoutes routes = r.Routes();
    routes.DispatchText(R"({"type":"boom","what":"first","from":"a"})", MessageSource::kRelay);
    routes.DispatchText(R"({"type":"input","from":"b"})", MessageSource::kRelay);
    routes.DispatchText(R"({"type":"boom","what":"second","from":"a"})", MessageSource::kRelay);
    EXPECT_EQ(r.ran, (std::vector<std::string>{"boom", "input b", "boom"}));
    EXPECT_EQ(r.audit, (std::vector<std::string>{"dispatch | a | handler failed: boom: first",
                                                 "dispatch | a | handler failed: boom: second"}));
}

}  // namespace
