#include "app/enrollment.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

using sv::EnrollAnswer;
using Outcome = sv::EnrollAnswer::Outcome;

TEST(Enrollment, RequestIsCompactWithSortedKeys) {
    EXPECT_EQ(sv::BuildEnrollRequest("tok-1", "Front desk \"A\""),
              "{\"enrollToken\":\"tok-1\",\"name\":\"Front desk \\\"A\\\"\",\"os\":\"win\"}");
    EXPECT_EQ(sv::BuildEnrollRequest("\xff", "n"), "{\"enrollToken\":\"\xef\xbf\xbd\",\"name\":\"n\",\"os\":\"win\"}");
}

TEST(Enrollment, AnswerWithIdAndSecretEnrols) {
    EnrollAnswer a = sv::ReadEnrollAnswer("{\"deviceId\":42,\"deviceSecret\":\"s3cr3t\",\"extra\":[1]}");
    EXPECT_EQ(a.outcome, Outcome::Enrolled);
    EXPECT_EQ(a.deviceId, 42);
    EXPECT_EQ(a.deviceSecret, "s3cr3t");
    EnrollAnswer edge = sv::ReadEnrollAnswer("{\"deviceId\":2147483647,\"deviceSecret\":\"\"}");
    EXPECT_EQ(edge.outcome, Outcome::Enrolled);
    EXPECT_EQ(edge.deviceId, 2147483647);
}

TEST(Enrollment, EmptyBodyIsNoResponse) {
    EXPECT_EQ(sv::ReadEnrollAnswer("").outcome, Outcome::NoResponse);
}

TEST(Enrollment, RefusalCarriesItsErrorText) {
    EnrollAnswer a = sv::ReadEnrollAnswer("{\"error\":\"token expired\"}");
    EXPECT_EQ(a.outcome, Outcome::Refused);
    EXPECT_EQ(a.error, "token expired");
    EnrollAnswer onlyId = sv::ReadEnrollAnswer("{\"deviceId\":4}");
    EXPECT_EQ(onlyId.outcome, Outcome::Refused);
    EXPECT_EQ(onlyId.error, "bad response");
    EnrollAnswer numericError = sv::ReadEnrollAnswer("{\"error\":5}");
    EXPECT_EQ(numericError.outcome, Outcome::Refused);
    EXPECT_EQ(numericError.error, "bad response");
    EnrollAnswer array = sv::ReadEnrollAnswer("[\"deviceId\",\"deviceSecret\"]");
    EXPECT_EQ(array.outcome, Outcome::Refused);
    EXPECT_EQ(array.error, "bad response");
}

// A server's reason reaches a card, a console and the audit log: it must not break a
// line, drive a terminal, turn the text around or run on without end.
TEST(Enrollment, AServersReasonIsMadeSafeToShow) {
    const size_t n = sv::kShownReasonLimit;
    const std::string e = "\xC3\xA9";           // U+00E9, two bytes
    const std::string bad = "\xEF\xBF\xBD";    // U+FFFD
    const std::string cut = "\xE2\x80\xA6";    // U+2026
    auto times = [](const std::string& s, size_t k) {
        std::string out;
        for (size_t i = 0; i < k; ++i) out += s;
        return out;
    };
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"token expired", "token expired"},
        {"  spent\r\ntoken\t ", "spent  token"},                           // line ends, and blanks at the ends
        {"x\xC2\x85y\xE2\x80\xA8z\xE2\x80\xA9", "x y z"},               // NEL, LINE and PARAGRAPH SEPARATOR
        {"a\x1b[2Jb\x7f\x01", "a" + bad + "[2Jb" + bad + bad},             // a terminal's escape, DEL, C0
        {"\xC2\x9B" "31m", bad + "31m"},                                 // C1: CSI
        {"ok\xE2\x80\xAEgnp.exe", "ok" + bad + "gnp.exe"},               // a right-to-left override
        {"\xE2\x81\xA6x\xE2\x80\x8F", bad + "x" + bad},                  // isolate, right-to-left mark
        {"bad\xff\xC3", "bad" + bad + bad},                             // invalid and cut-off UTF-8
        {"\xC0\xAF\xED\xA0\x80", bad + bad + bad + bad + bad},           // overlong, a surrogate
        {"dicabut \xE2\x9C\x93 \xF0\x9F\x94\x91", "dicabut \xE2\x9C\x93 \xF0\x9F\x94\x91"},
        {times(e, n), times(e, n)},                                     // at the limit: whole
        {times(e, n + 1), times(e, n - 1) + cut},                       // counted in characters
        {"  " + times("a", n) + "  ", times("a", n)},                    // blanks do not count
    };
    for (const auto& c : cases) EXPECT_EQ(sv::ShownServerReason(c.in), c.out) << c.in;
    // What the answer carries is already the safe text.
    EXPECT_EQ(sv::ReadEnrollAnswer("{\"error\":\"expired\\n\\u001b[0m\"}").error, "expired " + bad + "[0m");
}

TEST(Enrollment, WrongKindsAreBadResponses) {
    for (const char* body : {
             "{\"deviceId\":\"12\",\"deviceSecret\":\"x\"}",
             "{\"deviceId\":12.5,\"deviceSecret\":\"x\"}",
             "{\"deviceId\":12.0,\"deviceSecret\":\"x\"}",
             "{\"deviceId\":true,\"deviceSecret\":\"x\"}",
             "{\"deviceId\":null,\"deviceSecret\":\"x\"}",
             "{\"deviceId\":2147483648,\"deviceSecret\":\"x\"}",
             "{\"deviceId\":-2147483649,\"deviceSecret\":\"x\"}",
             "{\"deviceId\":18446744073709551615,\"deviceSecret\":\"x\"}",
             "{\"deviceId\":0,\"deviceSecret\":\"x\"}",
             "{\"deviceId\":-5,\"deviceSecret\":\"x\"}",
             "{\"deviceId\":7,\"deviceSecret\":7}",
             "{\"deviceId\":7,\"deviceSecret\":null}",
             "{\"deviceId\":7,\"deviceSecret\":[\"x\"]}",
             "not json",
             "{\"deviceId\":7,\"deviceSecret\":\"x\"} trailing",
             "<html>502</html>",
         }) {
        EXPECT_EQ(sv::ReadEnrollAnswer(body).outcome, Outcome::BadResponse) << body;
    }
}

TEST(Enrollment, DeviceRecordIsByteExact) {
    EXPECT_EQ(sv::BuildDeviceRecord(42, "s3cr3t", "https://api.example"),
              "{\"apiBase\":\"https://api.example\",\"deviceId\":42,\"deviceSecret\":\"s3cr3t\"}");
    EXPECT_EQ(sv::BuildDeviceRecord(-1, "a\"b", ""), "{\"apiBase\":\"\",\"deviceId\":-1,\"deviceSecret\":\"a\\\"b\"}");
}

TEST(Enrollment, DeviceRecordRoundTrips) {
    int32_t id = 0;
    std::string secret;
    ASSERT_TRUE(sv::ReadDeviceRecord(sv::BuildDeviceRecord(77, "zz", "https://a"), id, secret));
    EXPECT_EQ(id, 77);
    EXPECT_EQ(secret, "zz");
    ASSERT_TRUE(sv::ReadDeviceRecord("{\"deviceId\":5,\"deviceSecret\":\"x\"}", id, secret));
    EXPECT_EQ(id, 5);
}

TEST(Enrollment, BadDeviceRecordsAreRefusedUntouched) {
    for (const char* text : {
             "{\"deviceId\":\"12\",\"deviceSecret\":\"x\"}",
             "{\"deviceId\":12}",
             "{\"deviceId\":0,\"deviceSecret\":\"x\"}",
             "{\"deviceSecret\":\"x\"}",
             "{\"deviceId\":4294967297,\"deviceSecret\":\"x\"}",
             "{\"deviceId\":1,\"deviceSecret\":1}",
             "[]",
             "",
             "{\"deviceId\":1,\"deviceSecret\":\"x\"",
         }) {
        int32_t id = 99;
        std::string secret = "keep";
        EXPECT_FALSE(sv::ReadDeviceRecord(text, id, secret)) << text;
        EXPECT_EQ(id, 99) << text;
        EXPECT_EQ(secret, "keep") << text;
    }
}
