#include "base/system_library.h"

#include <windows.h>

#include <cwchar>

#include "base/text_encoding.h"

namespace sv {
namespace {

// Whether the program's activation context (its manifest) redirects `name` to a
// side-by-side assembly, where the loader takes it from without any search.
bool RedirectedByManifest(const wchar_t* name) {
    ACTCTX_SECTION_KEYED_DATA data = {};
    data.cbSize = sizeof(data);
    return FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, name, &data) != FALSE;
}

// Whether the loaded module's file lies under the Windows folder (the side-by-side store
// is there); anything else is not the system's copy.
bool UnderWindowsFolder(HMODULE module) {
    wchar_t windows[MAX_PATH] = {0};
    const UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    wchar_t file[2048] = {0};
    const DWORD length = GetModuleFileNameW(module, file, 2048);
    if (n == 0 || n >= MAX_PATH || length == 0 || length >= 2048 || length <= n) return false;
    return _wcsnicmp(file, windows, n) == 0 && file[n] == L'\\';
}

}  // namespace

const wchar_t* const kDelayLoadedLibraries[4] = {L"gdiplus.dll", L"bcrypt.dll", L"winmm.dll", L"comctl32.dll"};

std::wstring SystemLibraryPath(const wchar_t* name) {
    wchar_t system[MAX_PATH] = {0};
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    return std::wstring(system, n) + L"\\" + name;
}

void* LoadSystemLibrary(const wchar_t* name) {
    if (RedirectedByManifest(name)) {
        HMODULE module = LoadLibraryW(name);
        if (module != nullptr && !UnderWindowsFolder(module)) {
            FreeLibrary(module);
            SetLastError(ERROR_MOD_NOT_FOUND);  // the caller's line names this, not the free's
            return nullptr;
        }
        return module;
    }
    const std::wstring path = SystemLibraryPath(name);
    if (path.empty()) return nullptr;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

std::string LoadDelayLoadedLibraries() {
    for (const wchar_t* name : kDelayLoadedLibraries) {
        // Kept loaded for the whole run: the delay-load helper finds it so.
        if (LoadSystemLibrary(name) == nullptr) {
            return "cannot load " + Utf16ToUtf8(name) + " from the Windows system folder (error " +
                   std::to_string(GetLastError()) + "); this program needs Windows 7 SP1 or later";
        }
    }
    return std::string();
}

}  // namespace sv
