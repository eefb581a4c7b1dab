#include "app/update_installer.h"

#include <windows.h>

#include "app/update_command_line.h"
#include "base/file_io.h"
#include "base/text_encoding.h"

namespace sv {
namespace {

const wchar_t kNewSuffix[] = L".sv-update-new";
const wchar_t kOldSuffix[] = L".sv-update-old";

struct StagedFile {
    std::wstring source;
    std::wstring destination;
};

// Every file under `dir`, with the same relative path under `installDir`. False when a
// folder cannot be read: installing part of a package would be worse than none.
bool CollectFiles(const std::wstring& dir, const std::wstring& relative, const std::wstring& installDir,
                  std::vector<StagedFile>& files) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool ok = true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring rel = relative.empty() ? name : relative + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A link out of the staging folder is never followed.
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
            if (!CollectFiles(dir + L"\\" + name, rel, installDir, files)) ok = false;
            continue;
        }
        if (rel == L"_manifest.json" || rel == L"_manifest.sig") continue;
        files.push_back({dir + L"\\" + name, installDir + L"\\" + rel});
    } while (ok && FindNextFileW(search, &found));
    if (ok && GetLastError() != ERROR_NO_MORE_FILES) ok = false;
    FindClose(search);
    return ok;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool Attempt(const InstallerSystem& system, const std::function<bool()>& step) {
    for (int attempt = 1; attempt <= kInstallAttempts; ++attempt) {
        if (step()) return true;
        if (attempt < kInstallAttempts) system.pause(kInstallRetryPauseMs);
    }
    return false;
}

void EnsureParentOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0) EnsureDirectory(Utf16ToUtf8(path.substr(0, slash)));
}

struct Swapped {
    const StagedFile* file;
    bool hadOld;
};

void PutBack(const std::vector<Swapped>& swapped, const InstallerSystem& system) {
    for (auto it = swapped.rbegin(); it != swapped.rend(); ++it) {
        const std::wstring& dest = it->file->destination;
        if (it->hadOld) {
            const std::wstring old = dest + kOldSuffix;
            Attempt(system, [&] { return MoveFileExW(old.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING) != 0; });
        } else {
            DeleteFileW(dest.c_str());
        }
    }
}

}  // namespace

bool InstallStagedFiles(const std::string& stagingDir, const std::string& installDir, const InstallerSystem& system) {
    const std::wstring staging = Utf8ToUtf16(stagingDir);
    if (!IsDirectory(stagingDir)) return false;
    std::vector<StagedFile> files;
    if (!CollectFiles(staging, L"", Utf8ToUtf16(installDir), files)) return false;

    // Every new file whole beside its destination first: nothing installed is touched
    // until all of them are there.
    bool ok = true;
    size_t prepared = 0;
    for (; ok && prepared < files.size(); ++prepared) {
        const StagedFile& file = files[prepared];
        EnsureParentOf(file.destination);
        const std::wstring temp = file.destination + kNewSuffix;
        ok = Attempt(system, [&] {
            if (CopyFileW(file.source.c_str(), temp.c_str(), FALSE)) return true;
            DeleteFileW(temp.c_str());
            return false;
        });
    }
    auto dropTemps = [&] {
        for (size_t i = 0; i < prepared && i < files.size(); ++i) {
            DeleteFileW((files[i].destination + kNewSuffix).c_str());
        }
    };
    if (!ok) {
        dropTemps();
        return false;
    }

    std::vector<Swapped> swapped;
    for (const StagedFile& file : files) {
        const std::wstring& dest = file.destination;
        const std::wstring temp = dest + kNewSuffix;
        const std::wstring old = dest + kOldSuffix;
        const bool hadOld = Exists(dest);
        // A busy file (the old program still mapped, a reader holding it) refuses the move.
        if (hadOld && !Attempt(system, [&] {
                return MoveFileExW(dest.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
            })) {
            ok = false;
            break;
        }
        if (!Attempt(system, [&] {
                return MoveFileExW(temp.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
            })) {
            if (hadOld) MoveFileExW(old.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING);
            ok = false;
            break;
        }
        swapped.push_back({&file, hadOld});
    }
    if (!ok) {
        PutBack(swapped, system);
        dropTemps();
        return false;
    }
    for (const Swapped& s : swapped) {
        if (s.hadOld) DeleteFileW((s.file->destination + kOldSuffix).c_str());
    }
    return true;
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
    return system;
}

int ApplyStagedUpdate(const std::vector<std::string>& words) { return ApplyStagedUpdate(words, RealInstallerSystem()); }

int ApplyStagedUpdate(const std::vector<std::string>& words, const InstallerSystem& system) {
    ApplyRequest request;
    if (!ParseApplyArguments(words, request)) return kApplyMissingArguments;
    const std::string installDir = InstallDirectoryOf(request.targetExe);
    system.waitForParent(request.parentPid);
    const bool whole = InstallStagedFiles(request.stagingDir, installDir, system);
    bool restarted = false;
    if (RestartsAsService(request.hostArgs)) {
        restarted = system.startService();
    } else {
        restarted = system.startProgram(BuildRestartCommandLine(request.targetExe, ArgumentsToHandOn(request.hostArgs)),
                                        installDir);
    }
    return ApplyExitCode(restarted, whole);
}

bool LaunchUpdaterHelper(const std::string& stagingDir, const std::string& exePath,
                         const std::vector<std::string>& hostArgs) {
    size_t slash = exePath.find_last_of("\\/");
    const std::string updater = JoinDataPath(stagingDir, slash == std::string::npos ? exePath : exePath.substr(slash + 1));
    std::wstring line = BuildUpdaterCommandLine(updater, GetCurrentProcessId(), stagingDir, exePath,
                                                ArgumentsToHandOn(hostArgs));
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW | DETACHED_PROCESS, nullptr,
                        nullptr, &si, &pi)) {
        return false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

}  // namespace sv
