#include "app/service_data_folder.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "base/file_io.h"
#include "base/text_encoding.h"
#include "test_support.h"

namespace {

// The descriptors as the system reads them: parsed and written back unchanged, with
// nobody but SYSTEM and Administrators in them.
TEST(ServiceDataFolder, TheDescriptorsParseAsWritten) {
    for (const wchar_t* sddl : {sv::FolderTopSddl(), sv::FolderEntrySddl(sv::EntryKind::File),
                                sv::FolderEntrySddl(sv::EntryKind::Directory)}) {
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

// Wine keeps no access lists on files (it reads back one made from the Unix mode) and
// makes no symbolic links or junctions (CreateSymbolicLinkW succeeds without one), so
// the lists written are checked above and links through the walk's seam; here the real
// calls run end to end: opened and listed by handle, secured, a hard link's name removed.
TEST(ServiceDataFolder, AFolderMadeFirstByAUserIsTakenOverWhole) {
    sv_test::ScratchDir scratch;
    const std::string data = scratch.Path() + "\\Sorvane";
    const std::string outside = scratch.Path() + "\\elsewhere";
    ASSERT_TRUE(sv::WriteTextFile(outside + "\\target.txt", "not the service's"));
    ASSERT_TRUE(sv::WriteTextFile(data + "\\host-ui.json", "{}"));
    ASSERT_TRUE(sv::WriteTextFile(data + "\\sub\\x.txt", "x"));
    ASSERT_TRUE(CreateHardLinkW(sv::Utf8ToUtf16(data + "\\sub\\hard.txt").c_str(),
                                sv::Utf8ToUtf16(outside + "\\target.txt").c_str(), nullptr));
    ASSERT_EQ(sv_test::ReadFile(data + "\\sub\\hard.txt"), "not the service's");

    EXPECT_EQ(sv::SecureServiceDataDir(data), "");
    EXPECT_EQ(sv_test::ReadFile(data + "\\host-ui.json"), "{}");
    EXPECT_EQ(sv_test::ReadFile(data + "\\sub\\x.txt"), "x");
    // The second name goes; the file it shares stays.
    EXPECT_FALSE(sv::PathExists(data + "\\sub\\hard.txt"));
    EXPECT_EQ(sv_test::ReadFile(outside + "\\target.txt"), "not the service's");
    // Made anew when missing.
    EXPECT_EQ(sv::SecureServiceDataDir(scratch.Path() + "\\Fresh"), "");
    EXPECT_TRUE(sv::IsDirectory(scratch.Path() + "\\Fresh"));
}

TEST(ServiceDataFolder, AFileInTheFolderPlaceIsRefused) {
    sv_test::ScratchDir scratch;
    const std::string data = scratch.Path() + "\\Sorvane";
    ASSERT_TRUE(sv::WriteTextFile(data, "a file"));
    EXPECT_EQ(sv::SecureServiceDataDir(data), data + " is not a folder");
    EXPECT_EQ(sv_test::ReadFile(data), "a file");
    // Not a folder: no audit line is written through it.
    EXPECT_EQ(sv_test::ListFiles(scratch.Path()).size(), 1u);
}

}  // namespace
