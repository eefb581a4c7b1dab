#include "app/service_data_folder.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "base/file_io.h"
#include "base/text_encoding.h"
#include "test_support.h"

namespace {

// The descriptors as the system reads them: parsed and written back unchanged.
TEST(ServiceDataFolder, TheDescriptorsParseAsWritten) {
    for (const wchar_t* sddl :
         {sv::FolderTopSddl(), sv::FolderEntrySddl(sv::EntryKind::File), sv::FolderEntrySddl(sv::EntryKind::Directory),
          sv::UploadsFolderSddl(), sv::UploadsEntrySddl(sv::EntryKind::File),
          sv::UploadsEntrySddl(sv::EntryKind::Directory)}) {
        PSECURITY_DESCRIPTOR sd = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr)) << sddl;
        LPWSTR back = nullptr;
        ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
            sd, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &back, nullptr));
        EXPECT_EQ(std::wstring(back), sddl);
        LocalFree(back);
        LocalFree(sd);
    }
}

// Names that only a "\\?\" path or a handle-relative open reaches as themselves.
std::wstring Literal(const std::string& dir, const wchar_t* name) {
    return L"\\\\?\\" + sv::Utf8ToUtf16(dir) + L"\\" + name;
}

bool MakeLiteralFile(const std::string& dir, const wchar_t* name, const char* text) {
    HANDLE h = CreateFileW(Literal(dir, name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(h, text, static_cast<DWORD>(strlen(text)), &written, nullptr) != 0;
    CloseHandle(h);
    return ok;
}

std::string ReadLiteral(const std::string& dir, const wchar_t* name) {
    HANDLE h = CreateFileW(Literal(dir, name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "(none)";
    char buffer[64];
    DWORD read = 0;
    ReadFile(h, buffer, sizeof(buffer), &read, nullptr);
    CloseHandle(h);
    return std::string(buffer, read);
}

// Wine keeps no access lists on files (it reads back one made from the Unix mode, never
// the service's own), so the list check at the top is stood in for here; it is tested
// on its own over lists the system parsed.
sv::FolderOps WithTheServicesList() {
    sv::FolderOps ops = sv::RealFolderOps();
    ops.open = [open = ops.open](sv::FolderOps::Handle parent, const std::wstring& name, sv::EntryFacts& facts) {
        const sv::FolderOps::Handle h = open(parent, name, facts);
        if (parent == 0) facts.ownList = true;
        return h;
    };
    return ops;
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

// Wine also reports every file of this process's Unix user as owned by the account the
// host runs as, and makes no symbolic links or junctions, so the owners and links are
// checked behind the walk's seam; here the real calls run end to end: opened and listed
// by handle, each name inside its parent's handle, secured, a hard link's name removed,
// the uploads folder made.
TEST(ServiceDataFolder, AFolderOfOursIsTakenOverWholeWithEveryNameHandledAsItself) {
    sv_test::ScratchDir scratch;
    const std::string data = scratch.Path() + "\\Sorvane";
    const std::string outside = scratch.Path() + "\\elsewhere";
    ASSERT_TRUE(sv::WriteTextFile(outside + "\\target.txt", "not the service's"));
    ASSERT_TRUE(sv::WriteTextFile(data + "\\host-ui.json", "{}"));
    ASSERT_TRUE(sv::WriteTextFile(data + "\\sub\\x.txt", "x"));
    ASSERT_TRUE(CreateHardLinkW(sv::Utf8ToUtf16(data + "\\sub\\hard.txt").c_str(),
                                sv::Utf8ToUtf16(outside + "\\target.txt").c_str(), nullptr));
    // A path would read these as "host-ui.json", "planted", the null device and the folder.
    ASSERT_TRUE(CreateHardLinkW(Literal(data, L"host-ui.json.").c_str(),
                                sv::Utf8ToUtf16(outside + "\\target.txt").c_str(), nullptr));
    const wchar_t* odd[] = {L"planted.", L"planted ", L"NUL", L"..."};
    for (const wchar_t* name : odd) ASSERT_TRUE(MakeLiteralFile(data, name, "odd")) << sv::Utf16ToUtf8(name);

    std::vector<std::string> reported;
    const auto report = [&reported](const std::string& line) { reported.push_back(line); };
    EXPECT_EQ(sv::SecureServiceDataDir(data, report, WithTheServicesList()), "");
    EXPECT_EQ(sv_test::ReadFile(data + "\\host-ui.json"), "{}");
    EXPECT_EQ(sv_test::ReadFile(data + "\\sub\\x.txt"), "x");
    // The second names go; the file they share stays.
    EXPECT_FALSE(sv::PathExists(data + "\\sub\\hard.txt"));
    EXPECT_EQ(ReadLiteral(data, L"host-ui.json."), "(none)");
    EXPECT_EQ(sv_test::ReadFile(outside + "\\target.txt"), "not the service's");
    for (const wchar_t* name : odd) {
        EXPECT_EQ(ReadLiteral(data, name), "odd") << sv::Utf16ToUtf8(name);
        DeleteFileW(Literal(data, name).c_str());
    }
    EXPECT_TRUE(sv::IsDirectory(data + "\\received"));
    // Made anew when missing, with its uploads folder.
    EXPECT_EQ(sv::SecureServiceDataDir(scratch.Path() + "\\Fresh", report, WithTheServicesList()), "");
    EXPECT_TRUE(sv::IsDirectory(scratch.Path() + "\\Fresh\\received"));
    EXPECT_TRUE(reported.empty());
}

// A folder made beforehand by an account that passes (an administrator, a script) keeps
// the list it inherited, under which any user may have added files; as Wine reads back a
// list made from the Unix mode, this is what every folder found here looks like to it.
// It is moved aside whole, with what it holds, and a fresh one is made.
TEST(ServiceDataFolder, AFolderWhoseListIsNotTheServicesIsMovedAsideWhole) {
    sv_test::ScratchDir scratch;
    const std::string data = scratch.Path() + "\\Sorvane";
    ASSERT_TRUE(sv::WriteTextFile(data + "\\host-ui.json", "{\"password\":\"known\"}"));
    std::vector<std::string> reported;
    EXPECT_EQ(sv::SecureServiceDataDir(data, [&reported](const std::string& line) { reported.push_back(line); }), "");
    EXPECT_TRUE(reported.empty());
    const std::vector<std::string> top = Sorted(sv_test::ListFiles(scratch.Path()));
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(top[0], "Sorvane");
    EXPECT_EQ(top[1].rfind("Sorvane.moved-", 0), 0u) << top[1];
    EXPECT_EQ(sv_test::ReadFile(scratch.Path() + "\\" + top[1] + "\\host-ui.json"), "{\"password\":\"known\"}");
    EXPECT_FALSE(sv::PathExists(data + "\\host-ui.json"));
    EXPECT_TRUE(sv::IsDirectory(data + "\\received"));
}

// A folder that is not secured gets no write at all: its maker may have planted the
// day's audit log as a link to a file of his choosing. The line goes to the reporter
// (the event log) instead.
TEST(ServiceDataFolder, AFolderThatIsNotSecuredGetsNoWrite) {
    sv_test::ScratchDir scratch;
    const std::string data = scratch.Path() + "\\Sorvane";
    const std::string file = scratch.Path() + "\\File";
    ASSERT_TRUE(sv::WriteTextFile(data + "\\host-ui.json", "{}"));
    ASSERT_TRUE(sv::WriteTextFile(file, "a file"));
    // Held without delete sharing: it can be neither taken over nor moved.
    HANDLE held = CreateFileW(sv::Utf8ToUtf16(data).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const struct {
        std::string dir;
        std::string problem;
    } cases[] = {
        {data, "cannot open " + data},
        {file, file + " is not a folder"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> reported;
        EXPECT_EQ(sv::SecureServiceDataDir(c.dir, [&](const std::string& line) { reported.push_back(line); }),
                  c.problem);
        EXPECT_EQ(reported, std::vector<std::string>{"service data folder: " + c.problem});
    }
    CloseHandle(held);
    EXPECT_EQ(sv_test::ListFiles(data), std::vector<std::string>{"host-ui.json"});
    EXPECT_EQ(sv_test::ReadFile(file), "a file");
    EXPECT_EQ(Sorted(sv_test::ListFiles(scratch.Path())), (std::vector<std::string>{"File", "Sorvane"}));
}

}  // namespace
