#pragma once
// A helper program's arguments as its command line holds them. The narrow argv went
// through the ANSI code page, which cannot hold every file name a test may pass.
#include <windows.h>
#include <shellapi.h>

#include <string>

// Argument `index` (0 is the program), or "" when there is none.
inline std::wstring WideArgument(int index) {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring out = words != nullptr && index >= 0 && index < count ? words[index] : L"";
    if (words != nullptr) LocalFree(words);
    return out;
}
