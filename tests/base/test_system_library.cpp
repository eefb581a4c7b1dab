#include <windows.h>

#include <gtest/gtest.h>

#include "base/system_library.h"
#include "base/text_encoding.h"
#include "test_support.h"

namespace {

TEST(SystemLibrary, NamesTheFileInTheSystemFolderOnly) {
    wchar_t system[MAX_PATH] = {0};
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(n, 0u);
    const std::wstring path = sv::SystemLibraryPath(L"kernel32.dll");
    EXPECT_EQ(path, std::wstring(system, n) + L"\\kernel32.dll");
    EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

// The common controls come from the side-by-side copy that the program's manifest names
// (version 6, which its windows are drawn with), and every other delay-loaded library
// from the Windows folder. The manifest is the program's own, made this thread's
// activation context, as it is the whole process's in the program.
TEST(SystemLibrary, EachDelayLoadedLibraryIsTheWindowsCopy) {
    const std::wstring program = sv::Utf8ToUtf16(sv_test::ExeDir() + "\\sorvane-host-win7.exe");
    ACTCTXW manifest = {};
    manifest.cbSize = sizeof(manifest);
    manifest.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    manifest.lpSource = program.c_str();
    manifest.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE context = CreateActCtxW(&manifest);
    ASSERT_NE(context, INVALID_HANDLE_VALUE);
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(ActivateActCtx(context, &cookie));
    const std::string problem = sv::LoadDelayLoadedLibraries();
    DeactivateActCtx(0, cookie);
    ReleaseActCtx(context);
    EXPECT_EQ(problem, "");

    wchar_t windows[MAX_PATH] = {0};
    const UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    ASSERT_GT(n, 0u);
    for (const wchar_t* name : sv::kDelayLoadedLibraries) {
        wchar_t file[2048] = {0};
        ASSERT_GT(GetModuleFileNameW(GetModuleHandleW(name), file, 2048), 0u) << sv::Utf16ToUtf8(name);
        std::wstring path = file;
        for (wchar_t& c : path) c = towlower(c);
        std::wstring folder(windows, n);
        for (wchar_t& c : folder) c = towlower(c);
        const bool sideBySide = path.find(L"\\winsxs\\") != std::wstring::npos;
        EXPECT_EQ(path.compare(0, folder.size() + 1, folder + L"\\"), 0) << sv::Utf16ToUtf8(path);
        EXPECT_EQ(sideBySide, std::wstring(name) == L"comctl32.dll") << sv::Utf16ToUtf8(path);
    }
}

}  // namespace
