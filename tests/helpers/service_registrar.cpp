// Registers the host as the service "SorvaneHost" exactly as "--install-service" does,
// without its check of who may change the program: under Wine every file reads as owned
// by the Unix user's account, which that check rightly refuses, so the end-to-end tests
// register the program through this and test the refusal on the program itself.
// "service_registrar <program path> [words...]" exits with InstallService's result code;
// words after the path are added to the registered command line through the service
// manager, which applies them at once (Wine's reads the registry only when it starts).
#include <windows.h>

#include "app/process_entry.h"
#include "app/service_status.h"
#include "app/windows_service.h"
#include "base/text_encoding.h"

int main(int argc, char** argv) {
    const std::vector<std::string> words = sv::CommandLineWords(argc, argv);
    if (words.size() < 2) return 64;
    const int code = sv::InstallService(words[1]);
    if (code != 0 || words.size() == 2) return code;
    std::wstring command = sv::ServiceCommandLine(sv::Utf8ToUtf16(words[1]));
    for (size_t i = 2; i < words.size(); ++i) command += L" " + sv::Utf8ToUtf16(words[i]);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceW(manager, L"SorvaneHost", SERVICE_CHANGE_CONFIG) : nullptr;
    const bool changed = service && ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                                         SERVICE_NO_CHANGE, command.c_str(), nullptr, nullptr,
                                                         nullptr, nullptr, nullptr, nullptr);
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return changed ? 0 : 65;
}
