#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>

#include "resources/version.h"

namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colors;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

// The program beside this test carries the icon the window, the tray and the banner load.
TEST(AppIcon, ProgramCarriesEverySize) {
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    std::wstring exe(self);
    exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"sorvane-host-win7.exe";
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(SV_RES_APP_ICON), MAKEINTRESOURCEW(14) /* group icon */);
    ASSERT_NE(group, nullptr);
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
    ASSERT_NE(data, nullptr);
    WORD count = *reinterpret_cast<const WORD*>(data + 4);
    std::set<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        const auto* entry = reinterpret_cast<const GroupIconEntry*>(data + 6 + i * sizeof(GroupIconEntry));
        sizes.insert(entry->width == 0 ? 256 : entry->width);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 24, 32, 48, 64, 128, 256}));
    FreeLibrary(module);
}

}  // namespace
