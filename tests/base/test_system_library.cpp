#include <windows.h>

#include <gtest/gtest.h>

#include "base/system_library.h"

namespace {

TEST(SystemLibrary, NamesTheFileInTheSystemFolderOnly) {
    wchar_t system[MAX_PATH] = {0};
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(n, 0u);
    const std::wstring path = sv::SystemLibraryPath(L"kernel32.dll");
    EXPECT_EQ(path, std::wstring(system, n) + L"\\kernel32.dll");
    EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
