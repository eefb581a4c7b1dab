#include <gtest/gtest.h>

#include <windows.h>

#include <ctime>

#include "base/audit_log.h"
#include "base/text_encoding.h"
#include "test_support.h"

namespace {

class AuditLogWin32Test : public ::testing::Test {
protected:
    void TearDown() override {
        sv::SetAuditDirectory("");
        sv::SetAuditClock(nullptr);
    }
};

// Data directories come from the wide command line and APPDATA as UTF-8; a user name
// such as "José" must not send every audit line to a folder that does not exist.
TEST_F(AuditLogWin32Test, NonAsciiDirectoryReceivesTheLines) {
    sv_test::ScratchDir dir;
    const std::string sub = dir.Path() + "\\Jos\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC";
    ASSERT_TRUE(CreateDirectoryW(sv::Utf8ToUtf16(sub).c_str(), nullptr));
    std::tm day{};
    day.tm_year = 2026 - 1900;
    day.tm_mon = 4;
    day.tm_mday = 6;
    day.tm_hour = 7;
    day.tm_min = 8;
    day.tm_sec = 9;
    day.tm_isdst = -1;
    std::time_t when = std::mktime(&day);
    sv::SetAuditDirectory(sub);
    sv::SetAuditClock([&] { return when; });
    sv::WriteAuditLine("relay", "registered", "");
    const std::wstring file = sv::Utf8ToUtf16(sub) + L"\\audit-20260506.log";
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[128] = {};
    DWORD got = 0;
    ReadFile(h, buffer, sizeof(buffer), &got, nullptr);
    CloseHandle(h);
    EXPECT_EQ(std::string(buffer, got), "2026-05-06 07:08:09 | relay | registered\n");
    EXPECT_EQ(sv_test::ListFiles(dir.Path()).size(), 1u);  // nothing beside the folder itself
}

}  // namespace
