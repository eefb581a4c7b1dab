#include "app/process_entry.h"

#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#include "base/audit_log.h"
#include "app/command_messages.h"
#include "app/data_folder_check.h"
#include "base/console_output.h"
#include "app/command_line.h"
#include "base/file_io.h"
#include "app/host_run_task.h"
#include "app/host_window.h"
#include "app/lan_self_test.h"
#include "app/relay_settings_check.h"
#include "app/single_instance.h"
#include "app/stop_request.h"
#include "app/stop_signals.h"
#include "app/training_agent_maker.h"
#include "app/ux_telemetry.h"
#include "app/service_data_folder.h"
#include "app/windows_service.h"
#include "base/worker_group.h"
#include "app/update_installer.h"
#include "app/update_package.h"
#include "app/update_settings.h"
#include "app/update_staging.h"
#include "app/updater.h"
#include "base/text_encoding.h"
#include "net/https_client.h"
#include "net/tls_stream.h"
#include "resources/version.h"
#include "session/host.h"
#include "session/screen/screen_capture.h"
#include "training/training_interfaces.h"
#include "training/win32/activity_monitor.h"
#include "training/win32/uia_inspector.h"
#include "training/win32/win32_surface.h"
#include "training/win32/window_info.h"

namespace sv {
namespace {

std::string EnvironmentUtf8(const wchar_t* name, bool& present) {
    present = false;
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::string();
    std::wstring value(size, L'\0');
    DWORD got = GetEnvironmentVariableW(name, &value[0], size);
    if (got == 0 || got >= size) return std::string();
    value.resize(got);
    present = true;
    return Utf16ToUtf8(value);
}

void PrintTo(std::FILE* stream, const std::string& text) { PrintText(stream, text); }

void MakeProcessDpiAware() {
    // Looked up at run time: the import must not stop the program on a system without it.
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) return;
    using SetAwareFn = BOOL(WINAPI*)();
    auto setAware = reinterpret_cast<SetAwareFn>(reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDPIAware")));
    if (setAware != nullptr) setAware();
}

// The running executable's full path, UTF-8 (empty when it does not fit 2048 characters).
std::string ExecutablePath() {
    std::wstring buffer(2048, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) return std::string();
    buffer.resize(n);
    return Utf16ToUtf8(buffer);
}

bool HandleIsUsable(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

// A GUI program has no console; when started from one without redirection, borrow it.
void AttachParentConsole() {
    if (HandleIsUsable(GetStdHandle(STD_OUTPUT_HANDLE))) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    std::FILE* ignored = nullptr;
    ignored = std::freopen("CONOUT$", "w", stdout);
    ignored = std::freopen("CONOUT$", "w", stderr);
    (void)ignored;
}

int RunFetch(const CommandLine& line) {
    HttpResponse response = HttpGet(line.fetchUrl, line.options.caBundlePath.c_str(), 5);
    if (response.status != 200) {
        const std::string& ca = line.options.caBundlePath;
        PrintTo(stderr, FetchFailureLine(line.fetchUrl, response.status, ca, IsRegularFile(ca)));
        return 1;
    }
    std::string body(response.body.begin(), response.body.end());
    if (!WriteTextFile(line.fetchDestination, body)) {
        PrintTo(stderr, "fetch failed: cannot write " + line.fetchDestination +
                            ": give a destination file in a folder this account can write\n");
        return 1;
    }
    PrintTo(stdout, "fetched " + std::to_string(body.size()) + " bytes -> " + line.fetchDestination + "\n");
    return 0;
}

// "--uia-tree <window>": one window's element tree, deeper and larger than the agent's default.
int RunUiaTree(const std::string& window) {
    std::unique_ptr<training::IUiInspector> inspector = training::MakeUiaInspector();
    training::WindowTreeQuery query;
    query.window = window;
    query.depth = 8;
    query.maxNodes = 400;
    std::pair<nlohmann::json, std::string> answer = inspector->QueryTree(query, 20000);
    if (!answer.second.empty()) {
        PrintTo(stdout, "error: " + answer.second + "\n");
        return 1;
    }
    PrintTo(stdout, answer.first.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
    return 0;
}

// "--uia-focus <seconds>": every focus change in another program, one line each.
int RunUiaFocus(const std::string& seconds) {
    std::unique_ptr<training::IUiInspector> inspector = training::MakeUiaInspector();
    inspector->OnFocus = PrintFocusedElement;
    inspector->StartFocusTracking();
    Sleep(static_cast<DWORD>(UiaFocusSeconds(seconds)) * 1000);
    inspector->StopFocusTracking();
    return 0;
}

// Checks, downloads and stages an update without applying it.
int RunCheckUpdate(const CommandLine& line) {
    const std::string base = BuiltInUpdateApiBase();
    UpdateInfo info;
    if (!CheckForUpdate(base, kUpdateProduct, kUpdateVersion, kUpdateOs, line.options.caBundlePath, info)) {
        const std::string& ca = line.options.caBundlePath;
        PrintTo(stdout, "update check failed (no response): " + NoAnswerReason(base, "", ca, IsRegularFile(ca)) +
                            "; nothing was changed, try again later\n");
        return 1;
    }
    PrintTo(stdout, std::string("hasUpdate: ") + (info.hasUpdate ? "true" : "false") + "\n");
    if (!info.hasUpdate) return 0;
    PrintTo(stdout, "version: " + info.version + "\nchecksum: " + info.checksum + "\nurl: " + info.downloadUrl + "\n");
    std::vector<uint8_t> package;
    if (!DownloadUpdate(base, info, line.options.caBundlePath, package)) {
        PrintTo(stdout, "download+checksum: FAIL (the package could not be downloaded or does not match its "
                        "checksum; nothing was staged, try again later)\n");
        return 1;
    }
    bool staged = UnpackVerifiedUpdate(package, JoinDataPath(line.options.dataDir, "update-staging"),
                                       BuiltInUpdateSigningKey());
    if (!staged) {
        PrintTo(stdout, "download+stage+verify: FAIL (the package's signature or manifest does not verify, or it "
                        "cannot be unpacked into the data folder; nothing was staged)\n");
        return 1;
    }
    PrintTo(stdout, "download+stage+verify: PASS\n");
    return 0;
}

// Returns -1 when no one-shot was asked for, else the process exit code.
int RunOneShot(const CommandLine& line, const std::vector<std::string>& args) {
    switch (SelectOneShot(line, args)) {
    case OneShot::None:
        return -1;
    case OneShot::Fetch:
        return RunFetch(line);
    case OneShot::EnrollOnly:
        return RunEnrollOnly(line.enrollToken, line.enrollName, line.options, DefaultEnrolmentIo());
    case OneShot::ServiceInstall: {
        const int code = line.uninstallService ? UninstallService() : InstallService(ExecutablePath());
        PrintTo(stdout, ServiceResultLine(line.uninstallService, code));
        return code == 0 ? 0 : 1;
    }
    case OneShot::SelfTestUpdate: {
        bool pass = UpdateSelfTest();
        PrintTo(stdout, std::string("update self-test: ") + (pass ? "PASS" : "FAIL") + "\n");
        return pass ? 0 : 1;
    }
    case OneShot::SrpVectors:
        PrintSrpVectors();
        return 0;
    case OneShot::SelfTestLan: {
        bool pass = RunLanSelfTest();
        PrintTo(stdout, std::string("lan self-test: ") + (pass ? "PASS" : "FAIL") + "\n");
        return pass ? 0 : 1;
    }
    case OneShot::UiaTree:
        return RunUiaTree(line.uia.value);
    case OneShot::UiaFocus:
        return RunUiaFocus(line.uia.value);
    case OneShot::CheckUpdate:
        return RunCheckUpdate(line);
    }
    return -1;
}

// The "update-staging" and "update-runner" folders left by an earlier run; never the
// folder this program runs from (the installer's second process starts there), and
// what an interrupted installation left beside the program.
void RemoveStaleStaging(const std::string& dataDir) {
    for (const char* name : {kStagingFolderName, kRunnerFolderName}) {
        const std::string staging = JoinDataPath(dataDir, name);
        if (!IsDirectory(staging) || SameDirectory(staging, GetExecutableDirectory())) continue;
        for (int attempt = 0; attempt < 10; ++attempt) {
            if (!PathExists(staging)) break;
            RemoveDirectoryTree(staging);
            if (!PathExists(staging)) break;
            Sleep(500);
        }
    }
    TidyInterruptedInstall(GetExecutableDirectory());
}

// Runs what it holds on the way out: detaches from the update's shutdown what is about to go.
struct DetachOnExit {
    std::function<void()> detach;
    ~DetachOnExit() {
        if (detach) detach();
    }
};

// The process's one stop from outside the run (console events, logoff, shutdown): kept for
// the process's whole life, as Windows may call the console handler until its very end.
StopRequest& ProcessStopRequest() {
    static StopRequest& request = *new StopRequest([](const std::string& line) {
        PrintTo(stdout, line + "\n");
        WriteAuditLine("stop", line, "");
    });
    return request;
}

// The window's message loop on this thread, the host on a second one.
int RunTray(const CommandLine& line, HostRunTask& task, Host& host, UpdateThread* updates,
            UpdateShutdown* shutdown, UxTelemetry& telemetry) {
    StartUxTelemetry(telemetry, line.options.apiBase, line.options.caBundlePath, SV_VERSION_STRING);
    HostRunState runState;  // what the window shows follows what the task decides
    task.ReportTo(&runState);
    WorkerGroup windowWork;  // password rotations: the Host is stopped before they are waited for
    std::thread runner;
    try {
        runner = std::thread([&task] { task(); });
    } catch (const std::exception&) {
        return 1;
    }
    {
        HostWindow window(host, runState, windowWork, line.options.usage);
        DetachOnExit attached;
        if (shutdown != nullptr) {
            shutdown->AttachWindow(&window);
            attached.detach = [shutdown] { shutdown->AttachWindow(nullptr); };
        }
        // A stop from outside closes the window as its exit command does.
        StopRequest& stop = ProcessStopRequest();
        stop.Attach([&host, &window] {
            host.Stop();
            window.PostExit();
        });
        DetachOnExit stopAttached{[&stop, &host] { stop.Attach([&host] { host.Stop(); }); }};
        window.Run();
    }
    // Once the window is gone nothing waits for an update round (nor the enrolment,
    // which Stop cancels): a quick relaunch must not find this process still here.
    if (updates != nullptr) updates->LetGo();
    host.Stop();
    windowWork.Stop();
    windowWork.Wait();
    runner.join();
    // The run's last records ("exit", the session's end) would otherwise die with the process.
    telemetry.Flush(UxTelemetry::kExitLimit);
    return 0;
}

int RunModes(CommandLine& line, const std::vector<std::string>& args) {
    if (line.service) {
        line.options.dataDir = [] {
            bool present = false;
            std::string programData = EnvironmentUtf8(L"PROGRAMDATA", present);
            return ServiceDataDir(present ? programData.c_str() : nullptr);
        }();
        line.options.serviceMode = true;
        line.options.trainingEnabled = 0;
        const std::string problem = SecureServiceDataDir(line.options.dataDir);
        if (!problem.empty()) {
            // A folder that ordinary users can write to is not used by a LocalSystem service.
            PrintTo(stderr, "service data folder: " + problem + "\n");
            return 1;
        }
    }

    // Made and tried before anything is written there: the audit log's first lines and
    // the identity's files would otherwise be lost without a word.
    const std::string folderProblem = DataFolderProblem(line.options.dataDir);
    if (!folderProblem.empty()) {
        PrintTo(stderr, DataFolderProblemLine(line.options.dataDir, folderProblem));
        return 1;
    }
    // Audit lines go under the data directory from here on, for the whole run.
    SetAuditDirectory(line.options.dataDir);
    // The Windows side of training that the Host asks for when training is enabled.
    TrainingFactories& factories = line.options.trainingFactories;
    factories.makeSurface = [](const std::string& dataDir) { return training::MakeWin32Surface(dataDir); };
    factories.makeInspector = [] { return training::MakeUiaInspector(); };
    factories.makeActivitySource = [] { return training::MakeActivityMonitor(); };
    factories.foregroundWindow = training::ForegroundWindowInfo;
    factories.makeAgent = MakeTrainingAgent;
    // The session and the training agent report usage here; outside tray mode telemetry
    // is never started and records nothing.
    UxTelemetry& telemetry = MakeProcessUxTelemetry();
    line.options.usage.trackAction = [&telemetry](const std::string& action) { telemetry.TrackAction(action.c_str()); };
    line.options.usage.trackScreenView = [&telemetry](const std::string& screen) {
        telemetry.TrackScreenView(screen.c_str());
    };

    Host host(line.options);
    // Outside the service, a stop from outside ends the run as the tray's exit does; the
    // service manager stops the service its own way.
    DetachOnExit stopAttached;  // declared after the Host: detached before it is destroyed
    if (!line.service) {
        StopRequest& stop = ProcessStopRequest();
        stop.Attach([&host] { host.Stop(); });
        stopAttached.detach = [&stop] { stop.Attach(nullptr); };
    }
    std::shared_ptr<UpdateShutdown> shutdown;
    DetachOnExit attached;  // declared after the Host: detached before it is destroyed
    std::unique_ptr<UpdateThread> updates;  // stopped before the Host is detached
    if (!line.noUpdate) {
        RemoveStaleStaging(line.options.dataDir);
        shutdown = std::make_shared<UpdateShutdown>();
        shutdown->AttachHost(&host);
        attached.detach = [shutdown] { shutdown->AttachHost(nullptr); };
        UpdateConfig config;
        config.dataDir = line.options.dataDir;
        config.caBundlePath = line.options.caBundlePath;
        config.args.assign(args.begin() + (args.empty() ? 0 : 1), args.end());
        config.log = LogUpdateLine;
        config.beforeApply = [shutdown] { (*shutdown)(); };
        config.apiBase = BuiltInUpdateApiBase();
        config.signingKey = BuiltInUpdateSigningKey();
        updates = StartUpdateThread(std::move(config));
    }

    HostRunTask task(line.enroll, line.enrollToken, line.enrollName, line.options, host);
    int rc = 0;
    if (line.service) {
        task.ReportFailuresTo(WriteServiceEventLog);
        rc = RunAsService(task, &host);
    } else if (line.tray) {
        rc = RunTray(line, task, host, updates.get(), shutdown.get(), telemetry);
    } else {
        rc = task();
    }
    if (updates) updates->LetGo();
    return rc;
}

// A relay address or CA file that can never work ends the start with one line, instead
// of a host that prints its identity and retries for ever. Empty when all is usable.
std::string ConnectionSettingsProblem(const HostOptions& options) {
    std::string problem = RelayUrlProblem(options.relayUrl);
    // The CA file matters for a TLS relay, and whenever one was named other than the
    // default (the support and update APIs use it too).
    if (problem.empty() && (RelayUrlUsesTls(options.relayUrl) || options.caBundlePath != FindCaBundle())) {
        problem = CaBundleProblem(options.caBundlePath, [](const std::string& path, std::string& contents) {
            return IsRegularFile(path) && ReadWholeFile(path, contents);
        });
    }
    return problem;
}

}  // namespace

std::vector<std::string> CommandLineWords(int argc, char** argv) {
    std::vector<std::string> words;
    int wideCount = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (wide != nullptr && wideCount > 0) {
        // The wide line decides even where the C runtime split it differently: its
        // narrow words have already lost what the ANSI code page cannot hold.
        for (int i = 0; i < wideCount; ++i) words.push_back(Utf16ToUtf8(wide[i]));
    } else {
        for (int i = 0; i < argc; ++i) words.push_back(argv[i] ? argv[i] : "");
    }
    if (wide != nullptr) LocalFree(wide);
    return words;
}

std::string GetExecutableDirectory() {
    std::wstring buffer(2048, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) return std::string();
    buffer.resize(n);
    size_t slash = buffer.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return std::string();
    return Utf16ToUtf8(buffer.substr(0, slash));
}

std::string FindCaBundle() {
    const std::string exeDir = GetExecutableDirectory();
    const std::string candidates[] = {
        JoinDataPath(exeDir, "cacert.pem"),
        JoinDataPath(JoinDataPath(JoinDataPath(exeDir, ".."), "third_party"), "cacert.pem"),
        "third_party/cacert.pem",
    };
    for (const std::string& candidate : candidates) {
        if (IsRegularFile(candidate)) return candidate;
    }
    return candidates[0];
}

void PrintUsage() { PrintTo(stdout, UsageText()); }

void LogUpdateLine(const std::string& line) {
    PrintTo(stdout, line + "\n");
    WriteAuditLine("update", line, "");
}

void UpdateShutdown::operator()() {
    MutexLock lock(mutex_);
    if (host_ != nullptr) host_->Stop();
    if (window_ != nullptr) window_->PostExit();
}

void UpdateShutdown::AttachHost(Host* host) {
    MutexLock lock(mutex_);
    host_ = host;
}

void UpdateShutdown::AttachWindow(HostWindow* window) {
    MutexLock lock(mutex_);
    window_ = window;
}

int RunHostProcess(const std::vector<std::string>& args) {
    if (IsApplyUpdateRun(args)) return ApplyStagedUpdate(std::vector<std::string>(args.begin() + 2, args.end()));

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        PrintTo(stderr, "WSAStartup failed\n");
        return 1;
    }
    InstallTlsThreadingLocks();
    // Declared before the Host is made in RunModes, so it is released after the Host.
    GdiplusScope gdiplus;
    if (!gdiplus.Started()) {
        PrintTo(stderr, "GDI+ unavailable\n");
        return 1;
    }
    MakeProcessDpiAware();

    CommandLine line;
    line.options.relayUrl = SV_DEFAULT_RELAY_URL;
    line.options.apiBase = SV_DEFAULT_API_BASE;
    {
        bool present = false;
        std::string appData = EnvironmentUtf8(L"APPDATA", present);
        line.options.dataDir = DefaultDataDir(present ? appData.c_str() : nullptr);
    }
    line.options.caBundlePath = FindCaBundle();
    ReadCommandLine(args, line);
    // Attached first, so that from cmd the usage and the errors are seen too.
    if (line.help || !line.error.empty() || (!line.tray && !line.service)) AttachParentConsole();
    if (line.help) {
        PrintUsage();
        return 0;
    }
    if (!line.error.empty()) {
        PrintTo(stderr, line.error + "\n" + UsageText());
        return 2;
    }
    for (const std::string& warning : line.warnings) PrintTo(stderr, warning + "\n");

    int oneShot = RunOneShot(line, args);
    if (oneShot >= 0) return oneShot;

    const std::string problem = ConnectionSettingsProblem(line.options);
    if (!problem.empty()) {
        PrintTo(stderr, problem + "\n");
        return 2;
    }

    if (AnotherInstanceRuns()) {
        SignalFirstInstance();
        ShowFirstInstanceWindow();
        // Without this line a console start would end with nothing to tell why.
        if (!line.tray && !line.service) {
            PrintTo(stdout, "the Sorvane host is already running on this computer; this start ends here\n");
        }
        return 0;
    }
    // Its handlers are in place before the Host exists and stay until it is gone, so a
    // close, logoff or shutdown holds the process until the run has ended cleanly.
    std::unique_ptr<StopSignals> signals;
    if (!line.service) signals = std::make_unique<StopSignals>(ProcessStopRequest());
    const int rc = RunModes(line, args);
    ProcessStopRequest().RunEnded();
    return rc;
}

}  // namespace sv
