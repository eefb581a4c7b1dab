#include "app/command_messages.h"

#include <gtest/gtest.h>

#include <string>

// Each failure line names what failed, why, and the next step; the quoted beginnings
// stay as scripts and people know them.
TEST(CommandMessages, FailureLinesSayWhyAndWhatToDo) {
    struct Case {
        std::string line;
        std::string begins;
        std::string holds;  // the reason or the next step this case is about
    };
    const Case cases[] = {
        {sv::FetchFailureLine("https://h:8443/x", 0, "C:\\ca.pem", true), "fetch failed: HTTP 0: ",
         "no usable answer from h:8443"},
        {sv::FetchFailureLine("https://h/x", 0, "C:\\ca.pem", true), "fetch failed: HTTP 0: ", "C:\\ca.pem"},
        {sv::FetchFailureLine("http://127.0.0.1:9/x", 0, "C:\\ca.pem", true), "fetch failed: HTTP 0: ",
         "\"http://127.0.0.1:9/x\" is not an https:// address"},
        {sv::FetchFailureLine("https://h/x", 0, "C:\\none.pem", false), "fetch failed: HTTP 0: ",
         "the CA file C:\\none.pem cannot be found"},
        {sv::FetchFailureLine("https://h/x", 404, "C:\\ca.pem", true), "fetch failed: HTTP 404: ", "check the URL"},
        {sv::FetchFailureLine("https://h/x", 503, "C:\\ca.pem", true), "fetch failed: HTTP 503: ", "try again later"},
        {sv::NoAnswerReason("junk", "--api", "C:\\ca.pem", true), "\"junk\" is not an https:// address",
         "give one with --api"},
        {sv::NoAnswerReason("https://api.example", "--api", "C:\\ca.pem", true),
         "no usable answer from api.example:443", "given with --api"},
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
