// A DLL that records that it was loaded: on attach it makes "<its own file>.loaded"
// beside itself. The end-to-end tests plant copies of it beside the program under the
// names of the system DLLs the program uses, which must never be the ones it loads.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[2048];
    const DWORD n = GetModuleFileNameW(self, path, 2048 - 8);
    if (n == 0 || n >= 2048 - 8) return TRUE;
    lstrcatW(path, L".loaded");
    HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    return TRUE;
}
