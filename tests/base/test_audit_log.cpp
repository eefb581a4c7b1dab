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
