// A small console program that commands under test run: it sleeps, prints, exits with a
// code, checks a handle, waits for an event, or starts a grandchild, as its arguments say.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int SpawnSelf(const char* args, bool inherit, DWORD* pid) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" ";
    for (const char* p = args; *p; ++p) line += static_cast<wchar_t>(*p);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(self, &line[0], nullptr, nullptr, inherit, 0, nullptr, nullptr, &si, &pi)) return 1;
    *pid = pi.dwProcessId;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::string mode = argv[1];
    if (mode == "sleep" && argc >= 3) {
        Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
        return 0;
    }
    if (mode == "spew" && argc >= 3) {
        // Prints n bytes of 'x' to stdout (or stderr with a third argument "err").
        unsigned long n = std::strtoul(argv[2], nullptr, 10);
        FILE* f = (argc >= 4 && std::string(argv[3]) == "err") ? stderr : stdout;
        std::string block(4096, 'x');
        while (n > 0) {
            size_t k = n < block.size() ? n : block.size();
            if (fwrite(block.data(), 1, k, f) != k) return 3;
            n -= static_cast<unsigned long>(k);
        }
        fflush(f);
        return 0;
    }
    if (mode == "exit" && argc >= 3) return std::atoi(argv[2]);
    if (mode == "wait" && argc >= 3) {
        // Runs until the test sets the named event (two minutes at most).
        HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, argv[2]);
        if (!event) return 4;
        DWORD r = WaitForSingleObject(event, 120000);
        CloseHandle(event);
        return r == WAIT_OBJECT_0 ? 0 : 5;
    }
    if (mode == "handle" && argc >= 3) {
        // Whether a handle value is open in this process.
        HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(argv[2], nullptr, 10)));
        DWORD flags = 0;
        std::printf(GetHandleInformation(h, &flags) ? "open\n" : "closed\n");
        return 0;
    }
    if (mode == "utf8") {
        // "Grüße" and a CJK character in UTF-8 bytes.
        std::fputs("Gr\xC3\xBC\xC3\x9F" "e \xE4\xB8\xAD\n", stdout);
        return 0;
    }
    if (mode == "bytes") {
        // Bytes that are not UTF-8 on their own.
        std::fputs("caf\xE9 \x81\xFF\n", stdout);
        return 0;
    }
    if (mode == "orphan" && argc >= 3) {
        // Leaves a grandchild holding the inherited output pipe, then ends at once.
        DWORD pid = 0;
        std::string args = std::string("sleep ") + argv[2];
        if (SpawnSelf(args.c_str(), true, &pid)) return 1;
        std::printf("pid %lu\n", static_cast<unsigned long>(pid));
        std::fflush(stdout);
        return 0;
    }
    if (mode == "tree" && argc >= 3) {
        // Starts a grandchild without inherited handles and then waits as long as it does.
        DWORD pid = 0;
        std::string args = std::string("sleep ") + argv[2];
        if (SpawnSelf(args.c_str(), false, &pid)) return 1;
        std::printf("pid %lu\n", static_cast<unsigned long>(pid));
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
        return 0;
    }
    return 2;
}
