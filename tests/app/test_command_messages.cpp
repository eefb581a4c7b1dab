#include "app/command_messages.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using sv::ConnectFailure;
using sv::HttpFailure;

sv::HttpResponse NoConnection(ConnectFailure why) { return sv::NoAnswer(HttpFailure::Connect, why); }
sv::HttpResponse Answer(int32_t status) {
    sv::HttpResponse r;
    r.status = status;
    return r;
}

}  // namespace

// Each failure line names what failed, why, and the next step; the quoted beginnings
// stay as scripts and people know them.
TEST(CommandMessages, FailureLinesSayWhyAndWhatToDo) {
    struct Case {
        std::string line;
        std::string begins;
        std::string holds;  // the reason or the next step this case is about
    };
    const Case cases[] = {
        {sv::FetchFailureLine("https://h:8443/x", NoConnection(ConnectFailure::Refused), "C:\\ca.pem"),
         "fetch failed: HTTP 0: ", "h:8443: connection refused; check the address given with --fetch"},
        {sv::FetchFailureLine("http://127.0.0.1:9/x", sv::NoAnswer(HttpFailure::NotHttps), "C:\\ca.pem"),
         "fetch failed: HTTP 0: ", "\"http://127.0.0.1:9/x\" is not an https:// address"},
        {sv::FetchFailureLine("https://h/x", Answer(404), "C:\\ca.pem"), "fetch failed: HTTP 404: ", "check the URL"},
        {sv::FetchFailureLine("https://h/x", Answer(503), "C:\\ca.pem"), "fetch failed: HTTP 503: ",
         "try again later"},
        {sv::NoAnswerReason("junk", sv::NoAnswer(HttpFailure::NotHttps), "--api", "C:\\ca.pem"),
         "\"junk\" is not an https:// address", "give one with --api"},
        {sv::ServiceResultLine(true, 0), "uninstall service: 0 (", "is removed"},
        {sv::ServiceResultLine(true, 2), "uninstall service: 2 (", "is not installed"},
        {sv::ServiceResultLine(true, 3), "uninstall service: 3 (", "stop it first"},
        {sv::ServiceResultLine(false, 1), "install service: 1 (", "administrator"},
        {sv::ServiceResultLine(false, 2), "install service: 2 (", "--uninstall-service"},
        {sv::InstallRefusedLine("C:\\Users\\a\\Downloads can be changed by PC\\a, who may add files"),
         "install service: 3 (not installed: C:\\Users\\a\\Downloads can be changed by PC\\a",
         "a folder only administrators can change, such as Program Files"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.line.compare(0, c.begins.size(), c.begins), 0) << c.line;
        EXPECT_NE(c.line.find(c.holds), std::string::npos) << c.line;
        // One line: a second would be read as a separate message.
        const std::string body = c.line.substr(0, c.line.find_last_not_of('\n') + 1);
        EXPECT_EQ(body.find('\n'), std::string::npos) << c.line;
    }
}

// The reason is the cause the client knows, never a list of guesses; an address that is
// built in (no option) is never one the person is asked to check.
TEST(CommandMessages, NoAnswerNamesTheKnownCause) {
    const struct {
        sv::HttpResponse response;
        const char* option;
        const char* says;
    } cases[] = {
        {NoConnection(ConnectFailure::NameNotFound), "--api", "api.example:443: name not found; check the address "
                                                              "given with --api and this computer's network"},
        {NoConnection(ConnectFailure::NameNotFound), "", "api.example:443: name not found; check this computer's network"},
        {NoConnection(ConnectFailure::Refused), "", "connection refused; the server may be down, try again later"},
        {NoConnection(ConnectFailure::CaUnreadable), "--api", "the CA file C:\\ca.pem cannot be read"},
        {NoConnection(ConnectFailure::CertNameMismatch), "--api",
         "the certificate is not for api.example (it names another server); check the address given "
         "with --api"},
        {NoConnection(ConnectFailure::CertNameMismatch), "", "(it names another server)"},
        {NoConnection(ConnectFailure::HandshakeTimedOut), "", "handshake timed out; try again later"},
        {sv::NoAnswer(HttpFailure::NoAnswer), "", "ended the connection without an answer"},
        {sv::NoAnswer(HttpFailure::AnswerTimedOut), "", "did not answer in time"},
        {sv::NoAnswer(HttpFailure::NotHttp), "--api", "did not answer with HTTP; check that --api names the right server"},
        {sv::NoAnswer(HttpFailure::CutShort), "", "was cut short"},
        {sv::NoAnswer(HttpFailure::RedirectAway), "", "away from https://"},
        {sv::NoAnswer(HttpFailure::TooManyRedirects), "", "more than 5 times"},
        {Answer(200), "--api", "answered HTTP 200 with nothing in it"},
    };
    for (const auto& c : cases) {
        const std::string reason = sv::NoAnswerReason("https://api.example", c.response, c.option, "C:\\ca.pem");
        EXPECT_NE(reason.find(c.says), std::string::npos) << reason;
        EXPECT_EQ(reason.find("\n"), std::string::npos) << reason;
        if (*c.option == '\0') {
            EXPECT_EQ(reason.find("check the address"), std::string::npos) << reason;
            EXPECT_EQ(reason.find("names the right server"), std::string::npos) << reason;
        }
    }
}
