#pragma once
// The quoted path of exec_probe.exe, the small program that commands under test run; it
// sits beside the test executable.
#include <windows.h>

#include <string>

#include "base/text_encoding.h"

namespace sv_test {

inline std::string ExecProbePath() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self);
    dir = dir.substr(0, dir.find_last_of(L'\\'));
    return "\"" + sv::Utf16ToUtf8(dir) + "\\exec_probe.exe\"";
}

}  // namespace sv_test
