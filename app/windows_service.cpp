#include "app/windows_service.h"

#include <windows.h>

#include <memory>
#include <thread>

#include "app/security_reading.h"
#include "app/service_status.h"
#include "app/update_command_line.h"
#include "base/annotated_mutex.h"
#include "base/text_encoding.h"
#include "session/host.h"

namespace sv {
namespace {

const wchar_t kServiceName[] = L"SorvaneHost";
const wchar_t kServiceDisplayName[] = L"Sorvane Host";

struct ServiceState {
    Mutex mutex;  // the status has its own lock
    std::function<int()> hostMain SV_GUARDED_BY(mutex);
    Host* host SV_GUARDED_BY(mutex) = nullptr;
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    std::unique_ptr<ServiceStatusSequence> status;
    uint32_t refusal = 0;  // a start that ends before the host runs: our exit code, set before the dispatcher
};

// Process-wide because the service control dispatcher calls ServiceMain with nothing of
// ours to find an object by; a process runs at most one service.
ServiceState& State() {
    static ServiceState state;
    return state;
}

DWORD WINAPI ServiceControlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
    ServiceState& state = State();
    if (state.status && state.status->OnControl(control)) {
        MutexLock lock(state.mutex);
        if (state.host != nullptr) state.host->Stop();
    }
    return NO_ERROR;
}

void ServiceWorkerThread() {
    std::function<int()> hostMain;
    {
        ServiceState& state = State();
        MutexLock lock(state.mutex);
        hostMain = state.hostMain;
    }
    if (hostMain) hostMain();
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    ServiceState& state = State();
    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExW(kServiceName, ServiceControlHandler, nullptr);
    if (handle == nullptr) return;
    state.statusHandle = handle;
    if (state.refusal != 0) {
        state.status->ReportStoppedWithCode(state.refusal);
        return;
    }
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

std::string InstallLocationProblem(const std::string& executablePath, const std::string& caBundlePath) {
    if (executablePath.find_last_of("\\/") == std::string::npos) {
        return "the folder of the program " + executablePath + " cannot be told";
    }
    const std::string folder = InstallDirectoryOf(executablePath);
    const struct {
        std::string path;
        bool folder;
        bool mayBeMissing;  // the CA file: a service without one reaches no TLS relay
    } objects[] = {{folder, true, false}, {executablePath, false, false}, {caBundlePath, false, true}};
    for (const auto& object : objects) {
        ObjectSecurity security;
        if (!ReadPathSecurity(object.path, security)) {
            const bool missing = GetFileAttributesW(Utf8ToUtf16(object.path).c_str()) == INVALID_FILE_ATTRIBUTES;
            if (object.mayBeMissing && missing) continue;
            return "who may change " + object.path + " cannot be read";
        }
        const OtherWriter writer = FindOtherWriter(security, object.folder);
        if (!writer.sid.empty()) {
            return object.path + " can be changed by " + AccountName(writer.sid) + ", who " + writer.right;
        }
    }
    // Whoever may rename a folder above can put a folder of their own where the program's was.
    for (std::string above = FolderAbove(folder); !above.empty(); above = FolderAbove(above)) {
        ObjectSecurity security;
        if (!ReadPathSecurity(above, security)) return "who may change " + above + " cannot be read";
        const OtherWriter mover = FindOtherMover(security);
        if (!mover.sid.empty()) return above + " can be changed by " + AccountName(mover.sid) + ", who " + mover.right;
    }
    return std::string();
}

int UninstallService() {
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (manager.h == nullptr) return 1;
    ScHandle service(OpenServiceW(manager.h, kServiceName, DELETE));
    if (service.h == nullptr) return 2;
    return DeleteService(service.h) ? 0 : 3;
}

void WriteServiceEventLog(const std::string& line) {
    HANDLE source = RegisterEventSourceW(nullptr, kServiceName);
    if (source == nullptr) return;
    const std::wstring text = Utf8ToUtf16(line);
    const wchar_t* strings[] = {text.c_str()};
    ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
}

namespace {

// Hands the process to the service control dispatcher until ServiceMain has returned;
// false when the process was not started by the service control manager.
bool RunDispatcher(ServiceState& state) {
    state.status = std::make_unique<ServiceStatusSequence>([&state](const ServiceStatusRecord& record) {
        SERVICE_STATUS status = {};
        status.dwServiceType = record.type;
        status.dwCurrentState = record.state;
        status.dwControlsAccepted = record.controlsAccepted;
        status.dwWin32ExitCode = record.win32ExitCode;
        status.dwServiceSpecificExitCode = record.serviceExitCode;
        if (state.statusHandle != nullptr) SetServiceStatus(state.statusHandle, &status);
    });
    wchar_t name[] = L"SorvaneHost";
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) != FALSE;
}

}  // namespace

int RunAsService(std::function<int()> hostMain, Host* host) {
    ServiceState& state = State();
    {
        MutexLock lock(state.mutex);
        state.hostMain = std::move(hostMain);
        state.host = host;
    }
    const bool ran = RunDispatcher(state);

    std::function<int()> done;
    {
        MutexLock lock(state.mutex);
        done = std::move(state.hostMain);
        state.hostMain = nullptr;
        state.host = nullptr;
    }
    return ran ? 0 : 1;
}

bool RefuseServiceStart(uint32_t code) {
    ServiceState& state = State();
    state.refusal = code;
    return RunDispatcher(state);
}

}  // namespace sv
