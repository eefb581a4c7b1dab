#include "app/process_entry.h"

#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#include "base/audit_log.h"
#include "base/system_library.h"
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

// A tray start is made from a shortcut or at log-on: nobody sees its standard error.
void ShowStartFailureBox(const std::wstring& title, const std::wstring& text) {
    MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
}

// Every way a start ends before the host runs goes through here: its one line goes to
// standard error, and a tray start, which has no console, shows it in a message box as
// well on its way out (the exit waits until the person has read it).
class StartFailure {
public:
    using Show = std::function<void(const std::wstring& title, const std::wstring& text)>;
    StartFailure(bool tray, Show show) : tray_(tray), show_(show ? std::move(show) : ShowStartFailureBox) {}
    ~StartFailure() {
        if (tray_ && !line_.empty()) show_(kStartFailedTitle, Utf8ToUtf16(line_));
    }
    StartFailure(const StartFailure&) = delete;
    StartFailure& operator=(const StartFailure&) = delete;

    // Prints `line` (its own line end is optional) and then `more` (the usage text, say);
    // the first line is the one kept. Returns `code`, the exit code.
    int Fail(int code, std::string line, const std::string& more = std::string()) {
        while (!line.empty() && line.back() == '\n') line.pop_back();
        PrintTo(stderr, line + "\n" + more);
        if (line_.empty()) line_ = line;
        return code;
    }

private:
    const bool tray_;
    const Show show_;
    std::string line_;
};

// The tray was asked for, even when the reading stopped before its word; the service wins.
bool AsksForTray(const std::vector<std::string>& args) {
    bool tray = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--service") return false;
        tray = tray || args[i] == "--tray";
    }
    return tray;
}

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
        PrintTo(stderr, FetchFailureLine(line.fetchUrl, response, line.options.caBundlePath));
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
    UpdateFailure failure;
    if (!CheckForUpdate(base, kUpdateProduct, kUpdateVersion, kUpdateOs, line.options.caBundlePath, info, &failure)) {
        PrintTo(stdout, std::string("update check failed") + (failure.noResponse ? " (no response)" : "") + ": " +
                            failure.reason + "; nothing was changed, try again later\n");
        return 1;
    }
    PrintTo(stdout, std::string("hasUpdate: ") + (info.hasUpdate ? "true" : "false") + "\n");
    if (!info.hasUpdate) return 0;
    PrintTo(stdout, "version: " + info.version + "\nchecksum: " + info.checksum + "\nurl: " + info.downloadUrl + "\n");
    std::vector<uint8_t> package;
    if (!DownloadUpdate(base, info, line.options.caBundlePath, package, &failure)) {
        PrintTo(stdout, "download+checksum: FAIL (" + failure.reason + "; nothing was staged, try again later)\n");
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
        if (!line.uninstallService) {
            // The service runs this very file, and reads and writes beside it, as LocalSystem.
            const std::string refusal = InstallLocationProblem(ExecutablePath(), FindCaBundle());
            if (!refusal.empty()) {
                PrintTo(stdout, InstallRefusedLine(refusal));
                return 1;
            }
        }
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

// A service start that ends before the host runs: a service has no console, so the line
// goes to the event log too, and the service manager is told STOPPED with our code rather
// than left waiting for a status until it reports a time-out that names no reason.
void EndServiceStart(uint32_t code, std::string line) {
    while (!line.empty() && line.back() == '\n') line.pop_back();
    PrintTo(stderr, line + "\n");
    WriteServiceEventLog(line);
    RefuseServiceStart(code);
}

// A start that cannot go on, told the way its mode is heard: the console's line (with the
// tray's box), or a service's end with `serviceCode`. Returns `code`, the exit code.
int FailStart(StartFailure& failure, const CommandLine& line, int code, uint32_t serviceCode, const std::string& text) {
    if (!line.service) return failure.Fail(code, text);
    EndServiceStart(serviceCode, text);
    return code;
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
            UpdateShutdown* shutdown, UxTelemetry& telemetry, StartFailure& failure) {
    StartUxTelemetry(telemetry, line.options.apiBase, line.options.caBundlePath, SV_VERSION_STRING);
    HostRunState runState;  // what the window shows follows what the task decides
    task.ReportTo(&runState);
    WorkerGroup windowWork;  // password rotations: the Host is stopped before they are waited for
    std::thread runner;
    try {
        runner = std::thread([&task] { task(); });
    } catch (const std::exception& e) {
        return failure.Fail(1, std::string("cannot start the host: no thread for its run (") + e.what() +
                                   "); close other programs and start Sorvane again");
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

int RunModes(CommandLine& line, const std::vector<std::string>& args, StartFailure& failure) {
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
            // A folder that ordinary users can write to is not used by a LocalSystem service;
            // the take-over has put the line in the event log already.
            failure.Fail(1, "service data folder: " + problem);
            RefuseServiceStart(kServiceExitDataFolder);
            return 1;
        }
    }

    // Made and tried before anything is written there: the audit log's first lines and
    // the identity's files would otherwise be lost without a word.
    const std::string folderProblem = DataFolderProblem(line.options.dataDir);
    if (!folderProblem.empty()) {
        return FailStart(failure, line, 1, kServiceExitDataFolder,
                         DataFolderProblemLine(line.options.dataDir, folderProblem));
    }
    // Audit lines go under the data directory from here on, for the whole run.
    SetAuditDirectory(line.options.dataDir);
    // The console's warning is gone with a tray or service start; the log keeps it.
    if (!line.lanWarning.empty()) WriteAuditLine("lan", line.lanWarning, "");
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
        rc = RunTray(line, task, host, updates.get(), shutdown.get(), telemetry, failure);
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

int RunHostProcess(const std::vector<std::string>& args, ProcessSeams seams) {
    // Declared first: a tray start shows its failure once everything else has let go.
    StartFailure failure(AsksForTray(args), std::move(seams.showStartFailure));
    // Before anything else runs, so that no system DLL is ever found beside the program by
    // its bare name.
    const std::string libraries = LoadDelayLoadedLibraries();
    if (!libraries.empty()) return failure.Fail(1, libraries);
    if (IsApplyUpdateRun(args)) return ApplyStagedUpdate(std::vector<std::string>(args.begin() + 2, args.end()));

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return failure.Fail(1, "WSAStartup failed");
    InstallTlsThreadingLocks();
    // Declared before the Host is made in RunModes, so it is released after the Host.
    GdiplusScope gdiplus;
    if (!gdiplus.Started()) return failure.Fail(1, "GDI+ unavailable");
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
    if (!line.error.empty()) return failure.Fail(2, line.error, UsageText());
    for (const std::string& warning : line.warnings) PrintTo(stderr, warning + "\n");

    int oneShot = RunOneShot(line, args);
    if (oneShot >= 0) return oneShot;

    const std::string problem = ConnectionSettingsProblem(line.options);
    if (!problem.empty()) return FailStart(failure, line, 2, kServiceExitSettings, problem);

    if (AnotherInstanceRuns()) {
        if (line.service) {
            // No hand-off: a service's broadcast reaches no one's desktop.
            EndServiceStart(kServiceExitAnotherInstance,
                            "the Sorvane host is already running on this computer (another program holds "
                            "Global\\SorvaneHostWin7: the tray or console host, or any program that took that "
                            "name); the service does not start: end that program, then start the service again");
            return 0;
        }
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
    const int rc = RunModes(line, args, failure);
    ProcessStopRequest().RunEnded();
    return rc;
}

}  // namespace sv
