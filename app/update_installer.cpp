#include "app/update_installer.h"

#include <windows.h>

#include "app/update_command_line.h"
#include "app/update_settings.h"
#include "app/update_staging.h"
#include "base/audit_log.h"
#include "base/case_fold.h"
#include "base/file_io.h"
#include "base/text_encoding.h"

namespace sv {
namespace {

const wchar_t kNewSuffix[] = L".sv-update-new";
const wchar_t kOldSuffix[] = L".sv-update-old";

struct PlannedFile {
    std::string name;  // as the manifest lists it
    std::string digest;
    std::wstring destination;
};

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool Attempt(const InstallerSystem& system, const std::function<bool()>& step) {
    for (int attempt = 1; attempt <= kInstallAttempts; ++attempt) {
        if (step()) return true;
        if (attempt < kInstallAttempts) system.pause(kInstallRetryPauseMs);
    }
    return false;
}

struct Swapped {
    const PlannedFile* file;
    bool hadOld;
};

// Undoes the swaps in reverse, each step retried like the copy: a reader may hold a
// file for a moment, and giving up would leave the installation half old, half new.
void PutBack(const std::vector<Swapped>& swapped, const InstallerSystem& system) {
    for (auto it = swapped.rbegin(); it != swapped.rend(); ++it) {
        const std::wstring& dest = it->file->destination;
        if (it->hadOld) {
            const std::wstring old = dest + kOldSuffix;
            Attempt(system, [&] { return MoveFileExW(old.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING) != 0; });
        } else {
            Attempt(system, [&] { return DeleteFileW(dest.c_str()) != 0 || !Exists(dest); });
        }
    }
}

// Only DLLs of the system folder: the current folder leaves the search, and where the
// loader can (Windows 7 with KB2533623 and later) so does every other folder.
void LoadSystemDllsOnly() {
    SetDllDirectoryW(L"");
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return;
    using SetDefaultFn = BOOL(WINAPI*)(DWORD);
    auto setDefault = reinterpret_cast<SetDefaultFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    const DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    if (setDefault != nullptr) setDefault(kSearchSystem32);
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void TidyFolder(const std::wstring& dir, int depth) {
    if (depth > 8) return;
    const size_t suffixLength = sizeof(kOldSuffix) / sizeof(wchar_t) - 1;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = dir + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            TidyFolder(path, depth + 1);
            continue;
        }
        if (name.size() <= suffixLength) continue;
        const std::wstring suffix = name.substr(name.size() - suffixLength);
        const std::wstring original = path.substr(0, path.size() - suffixLength);
        if (suffix == kNewSuffix) {
            DeleteFileW(path.c_str());
        } else if (suffix == kOldSuffix) {
            if (Exists(original)) {
                DeleteFileW(path.c_str());
            } else {
                MoveFileExW(path.c_str(), original.c_str(), 0);
            }
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

InstallOutcome InstallStagedFiles(const std::string& stagingDir, const std::string& installDir,
                                  const std::string& keyBase64, const InstallerSystem& system) {
    UpdateManifest listed;
    std::string error;
    if (!ReadStagedManifest(stagingDir, keyBase64, listed, error)) return {InstallResult::Refused, error};
    std::vector<PlannedFile> files;
    for (const auto& item : listed) {
        files.push_back({item.first, item.second, Utf8ToUtf16(StagedPath(installDir, item.first))});
    }

    // Every new file whole beside its destination first, written from the bytes that
    // were checked: nothing installed is touched until all of them are there.
    size_t prepared = 0;
    auto dropTemps = [&] {
        for (size_t i = 0; i < prepared; ++i) DeleteFileW((files[i].destination + kNewSuffix).c_str());
    };
    for (; prepared < files.size(); ++prepared) {
        const PlannedFile& file = files[prepared];
        std::string bytes;
        if (!ReadStagedFile(stagingDir, file.name, file.digest, bytes, error)) {
            dropTemps();
            return {InstallResult::Refused, error};
        }
        // WriteTextFile makes the missing folders and writes through a temporary of its own.
        const std::string temp = Utf16ToUtf8(file.destination + kNewSuffix);
        if (!Attempt(system, [&] { return WriteTextFile(temp, bytes); })) {
            dropTemps();
            return {InstallResult::RolledBack, "cannot write " + temp};
        }
    }

    std::vector<Swapped> swapped;
    std::string busy;
    for (const PlannedFile& file : files) {
        const std::wstring& dest = file.destination;
        const std::wstring temp = dest + kNewSuffix;
        const std::wstring old = dest + kOldSuffix;
        const bool hadOld = Exists(dest);
        // A busy file (the old program still mapped, a reader holding it) refuses the move.
        if (hadOld && !Attempt(system, [&] {
                return MoveFileExW(dest.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
            })) {
            busy = Utf16ToUtf8(dest);
            break;
        }
        if (!Attempt(system, [&] {
                return MoveFileExW(temp.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
            })) {
            if (hadOld) {
                Attempt(system, [&] { return MoveFileExW(old.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING) != 0; });
            }
            busy = Utf16ToUtf8(dest);
            break;
        }
        swapped.push_back({&file, hadOld});
    }
    if (!busy.empty()) {
        PutBack(swapped, system);
        dropTemps();
        return {InstallResult::RolledBack, busy + " stayed locked"};
    }
    for (const Swapped& s : swapped) {
        if (s.hadOld) DeleteFileW((s.file->destination + kOldSuffix).c_str());
    }
    return {InstallResult::Installed, std::string(), files.size()};
}

void TidyInterruptedInstall(const std::string& installDir) { TidyFolder(Utf8ToUtf16(installDir), 0); }

bool FolderAcceptsNewFiles(const std::string& dir) {
    const std::wstring probe = Utf8ToUtf16(JoinDataPath(dir, ".sv-write-probe-" + std::to_string(GetCurrentProcessId()) +
                                                                 "-" + std::to_string(GetTickCount64())));
    HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    // The installer moves the old files aside: a folder that lets files be made but not
    // removed cannot take the update either.
    return DeleteFileW(probe.c_str()) != 0;
}

InstallerSystem RealInstallerSystem() {
    InstallerSystem system;
    system.waitForParent = [](uint32_t pid) {
        HANDLE parent = OpenProcess(SYNCHRONIZE, FALSE, pid);
        if (parent == nullptr) return;
        WaitForSingleObject(parent, kParentWaitMs);
        CloseHandle(parent);
    };
    system.pause = [](uint32_t ms) { Sleep(ms); };
    system.startService = [] {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        if (manager == nullptr) return false;
        bool started = false;
        SC_HANDLE service = OpenServiceW(manager, L"SorvaneHost", SERVICE_START);
        if (service != nullptr) {
            // Already running (restarted by the service manager's recovery) is running.
            started = StartServiceW(service, 0, nullptr) != 0 || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
        return started;
    };
    system.startProgram = [](const std::wstring& commandLine, const std::string& workingDir) {
        std::wstring line = commandLine;
        const std::wstring dir = Utf8ToUtf16(workingDir);
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si, &pi)) {
            return false;
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return true;
    };
    system.log = [](const std::string& line) { WriteAuditLine("update", line, ""); };
    return system;
}

int ApplyStagedUpdate(const std::vector<std::string>& words) {
    LoadSystemDllsOnly();
    // The staging folder is the data folder's child: its audit log gets the outcome.
    if (words.size() >= 3) SetAuditDirectory(InstallDirectoryOf(words[1]));
    return ApplyStagedUpdate(words, RealInstallerSystem(), BuiltInUpdateSigningKey());
}

int ApplyStagedUpdate(const std::vector<std::string>& words, const InstallerSystem& system,
                      const std::string& keyBase64) {
    ApplyRequest request;
    if (!ParseApplyArguments(words, request)) return kApplyMissingArguments;
    const std::string installDir = InstallDirectoryOf(request.targetExe);
    system.waitForParent(request.parentPid);
    const InstallOutcome outcome = InstallStagedFiles(request.stagingDir, installDir, keyBase64, system);
    switch (outcome.result) {
    case InstallResult::Installed:
        system.log("[update] installer copied " + std::to_string(outcome.files) + " files into " + installDir);
        break;
    case InstallResult::Refused:
        system.log("[update] installer copied nothing: " + outcome.detail);
        break;
    case InstallResult::RolledBack:
        system.log("[update] installer rolled back: " + outcome.detail);
        break;
    }
    bool restarted = false;
    if (RestartsAsService(request.hostArgs)) {
        restarted = system.startService();
    } else {
        restarted = system.startProgram(BuildRestartCommandLine(request.targetExe, ArgumentsToHandOn(request.hostArgs)),
                                        installDir);
    }
    const int code = ApplyExitCode(restarted, outcome.result == InstallResult::Installed);
    system.log("[update] installer exit code " + std::to_string(code) +
               (restarted ? std::string() : ", the host was not restarted"));
    return code;
}

bool LaunchUpdaterHelper(const std::string& stagingDir, const std::string& exePath,
                         const std::vector<std::string>& hostArgs, const std::string& keyBase64) {
    UpdateManifest listed;
    std::string error;
    if (!ReadStagedManifest(stagingDir, keyBase64, listed, error)) return false;
    // The package's program under the running program's name, at its root.
    const std::string exeName = AsciiLower(FileNameOf(exePath));
    auto it = listed.begin();
    while (it != listed.end() && AsciiLower(it->first) != exeName) ++it;
    std::string bytes;
    if (it == listed.end() || !ReadStagedFile(stagingDir, it->first, it->second, bytes, error)) return false;

    // A fresh folder of its own: the loader looks for DLLs beside the program first.
    const std::string runner = JoinDataPath(InstallDirectoryOf(stagingDir), kRunnerFolderName);
    if (PathExists(runner) && !RemoveDirectoryTree(runner)) return false;
    if (!CreateDirectoryW(Utf8ToUtf16(runner).c_str(), nullptr)) return false;
    const std::string updater = JoinDataPath(runner, it->first);
    if (!WriteTextFile(updater, bytes)) return false;

    const std::wstring application = Utf8ToUtf16(updater);
    const std::wstring folder = Utf8ToUtf16(runner);
    std::wstring line = BuildUpdaterCommandLine(updater, GetCurrentProcessId(), stagingDir, exePath,
                                                ArgumentsToHandOn(hostArgs));
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(application.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW | DETACHED_PROCESS,
                        nullptr, folder.c_str(), &si, &pi)) {
        return false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

}  // namespace sv
