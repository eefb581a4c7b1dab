#include <gtest/gtest.h>

#include <ctime>

#include "base/audit_log.h"
#include "test_support.h"

namespace {

std::tm MakeTm(int y, int mo, int d, int h, int mi, int s) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    t.tm_isdst = -1;
    return t;
}

class AuditLogTest : public ::testing::Test {
protected:
    void TearDown() override {
        sv::SetAuditDirectory("");
        sv::SetAuditClock(nullptr);
    }
};

TEST_F(AuditLogTest, LineFormatWithAndWithoutActor) {
    std::tm t = MakeTm(2026, 3, 4, 5, 6, 7);
    EXPECT_EQ(sv::FormatAuditLine(t, "relay", "registered hostId=123", ""),
              "2026-03-04 05:06:07 | relay | registered hostId=123\n");
    EXPECT_EQ(sv::FormatAuditLine(t, "input", "move x=0.5 y=0.5", "c1"),
              "2026-03-04 05:06:07 | input | actor=c1 | move x=0.5 y=0.5\n");
    EXPECT_EQ(sv::AuditFilePath("C:/data", t), "C:/data/audit-20260304.log");
    EXPECT_EQ(sv::AuditFilePath("C:/data/", t), "C:/data//audit-20260304.log");
}

TEST_F(AuditLogTest, LineBreaksFromPeersCannotForgeEntries) {
    std::tm t = MakeTm(2026, 1, 1, 0, 0, 0);
    std::string line = sv::FormatAuditLine(t, "clipboard", "a\r\nfake | relay | x", "ev\nil");
    EXPECT_EQ(line, "2026-01-01 00:00:00 | clipboard | actor=ev\\nil | a\\r\\nfake | relay | x\n");
    EXPECT_EQ(sv::EscapeAuditField("back\\slash|pipe"), "back\\slash|pipe");
}

// Whatever a peer sends comes out as visible text on one line: nothing a terminal acts
// on, nothing a reader takes for a line break, and no byte outside well-formed UTF-8 left
// for a lenient reader to decode into one of those.
TEST_F(AuditLogTest, ControlsAndBrokenUtf8FromPeersAreWrittenAsVisibleText) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"a\x1b[2Jb", "a\\x1b[2Jb"},                         // ESC: would clear a terminal
        {std::string("\x0b\x0c\x1c\x7f\0", 5), "\\x0b\\x0c\\x1c\\x7f\\x00"},  // VT, FF, FS: line breaks to some
        {"a\tb", "a\tb"},
        {"x\xc2\x85y\xc2\x9b", "x\\u0085y\\u009b"},          // C1: NEL, CSI
        {"\xe2\x80\xa8|\xe2\x80\xa9", "\\u2028|\\u2029"},    // line and paragraph separators
        {"\xc2\xa0\xc3\xbc \xe2\x80\x94 \xf0\x9f\x98\x80", "\xc2\xa0\xc3\xbc \xe2\x80\x94 \xf0\x9f\x98\x80"},
        {"a\x85", "a\\x85"},                                 // a stray byte: NEL in Latin-1
        {"\xc0\x8a", "\\xc0\\x8a"},                          // LF in an overlong form
        {"\xe0\x82\x85", "\\xe0\\x82\\x85"},                 // NEL in an overlong form
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},                 // a surrogate
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},        // above U+10FFFF
        {"ok\xe2\x80", "ok\\xe2\\x80"},                      // cut off at the end
    };
    for (const auto& c : cases) EXPECT_EQ(sv::EscapeAuditField(c.in), c.out) << c.out;
}

TEST_F(AuditLogTest, DroppedUntilDirectorySetAndNothingCreated) {
    sv_test::ScratchDir dir;
    sv::WriteAuditLine("relay", "before", "");
    EXPECT_TRUE(sv_test::ListFiles(dir.Path()).empty());
    sv::SetAuditDirectory(dir.Path() + "\\missing");
    sv::WriteAuditLine("relay", "into a missing folder", "");
    EXPECT_TRUE(sv_test::ListFiles(dir.Path()).empty());
}

TEST_F(AuditLogTest, MidnightSplitsIntoTwoFilesAndAppends) {
    sv_test::ScratchDir dir;
    std::tm before = MakeTm(2026, 12, 31, 23, 59, 59);
    std::tm after = MakeTm(2027, 1, 1, 0, 0, 0);
    std::time_t t1 = std::mktime(&before);
    std::time_t t2 = std::mktime(&after);
    sv::SetAuditDirectory(dir.Path());
    sv::SetAuditClock([&] { return t1; });
    sv::WriteAuditLine("a", "one", "");
    sv::WriteAuditLine("a", "two", "x");
    sv::SetAuditClock([&] { return t2; });
    sv::WriteAuditLine("b", "three", "");
    EXPECT_EQ(sv_test::ReadFile(dir.Path() + "/audit-20261231.log"),
              "2026-12-31 23:59:59 | a | one\n2026-12-31 23:59:59 | a | actor=x | two\n");
    EXPECT_EQ(sv_test::ReadFile(dir.Path() + "/audit-20270101.log"), "2027-01-01 00:00:00 | b | three\n");
}

}  // namespace
