#include "app/windows_service.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <mutex>
#include <thread>

#include "app/service_status.h"
#include "base/text_encoding.h"
#include "session/host.h"

namespace sv {
namespace {

const wchar_t kServiceName[] = L"SorvaneHost";
const wchar_t kServiceDisplayName[] = L"Sorvane Host";

// Full control for SYSTEM and Administrators, read and run for Users, inherited by files
// and folders inside; the parent's entries (which let users create files) are cut off.
const wchar_t kServiceDataSddl[] = L"O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

struct ServiceState {
    std::mutex mutex;  // guards hostMain and host; the status has its own lock
    std::function<int()> hostMain;
    Host* host = nullptr;
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    std::unique_ptr<ServiceStatusSequence> status;
};

ServiceState& State() {
    static ServiceState state;
    return state;
}

DWORD WINAPI ServiceControlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
    ServiceState& state = State();
    if (state.status && state.status->OnControl(control)) {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.host != nullptr) state.host->Stop();
    }
    return NO_ERROR;
}

void ServiceWorkerThread() {
    std::function<int()> hostMain;
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        hostMain = State().hostMain;
    }
    if (hostMain) hostMain();
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    ServiceState& state = State();
    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExW(kServiceName, ServiceControlHandler, nullptr);
    if (handle == nullptr) return;
    state.statusHandle = handle;
    state.status->ReportRunning();
    try {
        std::thread worker(ServiceWorkerThread);
        worker.join();
    } catch (const std::exception&) {
        // No worker thread: the service stops at once instead of hanging as RUNNING.
    }
    state.status->ReportStopped();
}

struct ScHandle {
    SC_HANDLE h = nullptr;
    explicit ScHandle(SC_HANDLE handle) : h(handle) {}
    ~ScHandle() {
        if (h != nullptr) CloseServiceHandle(h);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
};

}  // namespace

int InstallService(const std::string& executablePath) {
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (manager.h == nullptr) return 1;
    const std::wstring binaryPath = ServiceCommandLine(Utf8ToUtf16(executablePath));
    ScHandle service(CreateServiceW(manager.h, kServiceName, kServiceDisplayName, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                    binaryPath.c_str(), nullptr, nullptr, nullptr, L"LocalSystem", nullptr));
    return service.h == nullptr ? 2 : 0;
}

int UninstallService() {
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (manager.h == nullptr) return 1;
    ScHandle service(OpenServiceW(manager.h, kServiceName, DELETE));
    if (service.h == nullptr) return 2;
    return DeleteService(service.h) ? 0 : 3;
}

int RunAsService(std::function<int()> hostMain, Host* host) {
    ServiceState& state = State();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.hostMain = std::move(hostMain);
        state.host = host;
    }
    state.status = std::make_unique<ServiceStatusSequence>([&state](const ServiceStatusRecord& record) {
        SERVICE_STATUS status = {};
        status.dwServiceType = record.type;
        status.dwCurrentState = record.state;
        status.dwControlsAccepted = record.controlsAccepted;
        if (state.statusHandle != nullptr) SetServiceStatus(state.statusHandle, &status);
    });

    wchar_t name[] = L"SorvaneHost";
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    const bool ran = StartServiceCtrlDispatcherW(table) != FALSE;

    std::function<int()> done;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        done = std::move(state.hostMain);
        state.hostMain = nullptr;
        state.host = nullptr;
    }
    return ran ? 0 : 1;
}

std::string SecureServiceDataDir(const std::string& dir) {
    const std::wstring path = Utf8ToUtf16(dir);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kServiceDataSddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        return "security descriptor: error " + std::to_string(GetLastError());
    }
    std::unique_ptr<void, HLOCAL (*)(HLOCAL)> owned(descriptor, LocalFree);

    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A junction or link in the folder's place would send the service's writes
        // elsewhere: remove the link itself (never what it points to).
        if (!RemoveDirectoryW(path.c_str()) && !DeleteFileW(path.c_str())) {
            return "cannot remove the link at " + dir + ": error " + std::to_string(GetLastError());
        }
        attributes = INVALID_FILE_ATTRIBUTES;
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        SECURITY_ATTRIBUTES sa = {sizeof(sa), descriptor, FALSE};
        if (CreateDirectoryW(path.c_str(), &sa)) return std::string();
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return "cannot create " + dir + ": error " + std::to_string(GetLastError());
        }
        attributes = GetFileAttributesW(path.c_str());
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return dir + " is not a plain folder";
    }

    // The folder was there before (made by anyone): take it over, owner included, so
    // its maker can no longer change the access list back.
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    std::wstring mutablePath = path;
    DWORD result = SetNamedSecurityInfoW(&mutablePath[0], SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                             PROTECTED_DACL_SECURITY_INFORMATION,
                                         owner, nullptr, dacl, nullptr);
    if (result != ERROR_SUCCESS) return "cannot set the access list of " + dir + ": error " + std::to_string(result);
    return std::string();
}

}  // namespace sv
