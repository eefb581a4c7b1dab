#include "session/lan/lan_firewall.h"

#include <windows.h>

#include <vector>

#include "session/lan/lan_settings.h"
#include "session/tools/system_programs.h"

namespace sv {
namespace {

std::wstring OwnProgramPath() {
    wchar_t buf[520];
    DWORD n = GetModuleFileNameW(nullptr, buf, 520);
    if (n == 0 || n >= 520) return std::wstring();
    return std::wstring(buf, n);
}

}  // namespace

uint32_t RunHiddenCommand(const std::wstring& commandLine) {
    // netsh is taken from the system directory, never from the search path, so a planted
    // netsh.exe beside the host or in the working directory is never run.
    std::wstring program;
    if (commandLine.compare(0, 6, L"netsh ") == 0) program = SystemProgramPath(L"netsh.exe");
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program.empty() ? nullptr : program.c_str(), buffer.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
        return 0xFFFFFFFFu;
    }
    WaitForSingleObject(pi.hProcess, 30000);
    DWORD code = 0;
    if (!GetExitCodeProcess(pi.hProcess, &code)) code = 0xFFFFFFFFu;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

bool EnsureFirewallRule(int32_t port, const HiddenCommandRunner& run) {
    FirewallCommands c = BuildFirewallCommands(port, OwnProgramPath());
    run(c.deleteRule);
    if (run(c.addRule) == 0) return true;
    return run(c.showRule) == 0;
}

}  // namespace sv
