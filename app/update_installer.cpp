#include "app/update_installer.h"

#include <windows.h>

#include "app/update_command_line.h"
#include "app/update_journal.h"
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
// file for a moment. Returns the files that stayed new (or missing) all the same.
std::vector<std::string> PutBack(const std::vector<Swapped>& swapped, const InstallerSystem& system) {
    std::vector<std::string> mixed;
    for (auto it = swapped.rbegin(); it != swapped.rend(); ++it) {
        const std::wstring& dest = it->file->destination;
        bool back;
        if (it->hadOld) {
            const std::wstring old = dest + kOldSuffix;
            back = Attempt(system, [&] { return MoveFileExW(old.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING) != 0; });
        } else {
            back = Attempt(system, [&] { return DeleteFileW(dest.c_str()) != 0 || !Exists(dest); });
        }
        if (!back) mixed.push_back(Utf16ToUtf8(dest));
    }
    return mixed;
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
}

// Moves `from` over `to`. When `to` cannot be replaced (a program running from it), it
// is first renamed out of the way, which Windows allows for a running program; the
// renamed file carries the suffix the tidy removes.
bool MoveOver(const std::wstring& from, const std::wstring& to) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    if (!Exists(to)) return false;
    const std::wstring aside = to + kNewSuffix;
    if (!MoveFileExW(to.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    MoveFileExW(aside.c_str(), to.c_str(), 0);
    return false;
}

bool RemoveOrSetAside(const std::wstring& path) {
    if (DeleteFileW(path.c_str()) || !Exists(path)) return true;
    return MoveFileExW(path.c_str(), (path + kNewSuffix).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace

JournalRestore RestoreFromUpdateJournal(const std::string& installDir) {
    JournalRestore result;
    const std::string journalPath = JoinDataPath(installDir, kUpdateJournalName);
    if (!PathExists(journalPath)) return result;
    result.found = true;
    std::string text;
    std::vector<JournalEntry> entries;
    if (!ReadWholeFile(journalPath, text, kUpdateJournalMaxBytes) || !ParseUpdateJournal(text, entries)) {
        // Nothing is known about which copy is which: leave every file as it stands.
        result.unreadable = true;
        return result;
    }
    for (const JournalEntry& entry : entries) {
        const std::wstring dest = Utf8ToUtf16(StagedPath(installDir, entry.name));
        const std::wstring old = dest + kOldSuffix;
        bool whole = true;
        if (entry.hadOld) {
            // Without an old copy the swap never happened or was already undone.
            if (Exists(old)) whole = MoveOver(old, dest);
        } else {
            whole = RemoveOrSetAside(dest);
        }
        if (whole) {
            ++result.restored;
        } else {
            result.mixed.push_back(Utf16ToUtf8(dest));
        }
    }
    // Only a restore that put back every file ends the installation's record.
    if (result.mixed.empty() && !DeleteFileW(Utf8ToUtf16(journalPath).c_str())) {
        result.mixed.push_back(journalPath);
    }
    return result;
}

namespace {

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

// `keepOld`: an installation that is not complete still needs its old copies.
void TidyFolder(const std::wstring& dir, int depth, bool keepOld) {
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
            TidyFolder(path, depth + 1, keepOld);
            continue;
        }
        if (name.size() <= suffixLength) continue;
        const std::wstring suffix = name.substr(name.size() - suffixLength);
        const std::wstring original = path.substr(0, path.size() - suffixLength);
        if (suffix == kNewSuffix) {
            DeleteFileW(path.c_str());
        } else if (suffix == kOldSuffix && !keepOld) {
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
    // An earlier installation that the start could not put back first: its journal and
    // old copies are all that is left of the old side.
    const JournalRestore earlier = RestoreFromUpdateJournal(installDir);
    if (earlier.unreadable || !earlier.mixed.empty()) {
        return {InstallResult::Refused, "an earlier installation is not put back yet: " +
                                            (earlier.unreadable ? std::string(kUpdateJournalName) + " unreadable"
                                                                : JoinNames(earlier.mixed))};
    }
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

    // Old copies of a completed installation whose removal failed would be taken for
    // this one's by a restore: none may stand beside a planned file.
    std::vector<JournalEntry> plan;
    for (const PlannedFile& file : files) {
        const std::wstring old = file.destination + kOldSuffix;
        if (!DeleteFileW(old.c_str()) && Exists(old)) {
            dropTemps();
            return {InstallResult::RolledBack, "cannot remove " + Utf16ToUtf8(old)};
        }
        plan.push_back({file.name, Exists(file.destination)});
    }
    // The record of what is about to change, before anything does: a start after a
    // failed or cut-off installation restores from it.
    const std::string journalPath = JoinDataPath(installDir, kUpdateJournalName);
    if (!WriteFileAtomically(journalPath, FormatUpdateJournal(plan))) {
        dropTemps();
        return {InstallResult::RolledBack, "cannot write " + journalPath};
    }
    const std::wstring journal = Utf8ToUtf16(journalPath);

    std::vector<Swapped> swapped;
    std::string busy;
    std::vector<std::string> mixed;
    for (size_t i = 0; i < files.size(); ++i) {
        const PlannedFile& file = files[i];
        const std::wstring& dest = file.destination;
        const std::wstring temp = dest + kNewSuffix;
        const std::wstring old = dest + kOldSuffix;
        const bool hadOld = plan[i].hadOld;
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
            if (hadOld && !Attempt(system, [&] {
                    return MoveFileExW(old.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
                })) {
                mixed.push_back(Utf16ToUtf8(dest));  // only its old copy is left
            }
            busy = Utf16ToUtf8(dest);
            break;
        }
        swapped.push_back({&file, hadOld});
    }
    // Every file in place: removing the journal is what completes the installation; the
    // old copies go after it, so a start in between finds a whole new installation.
    if (busy.empty() && !Attempt(system, [&] { return DeleteFileW(journal.c_str()) != 0 || !Exists(journal); })) {
        busy = journalPath;
    }
    if (!busy.empty()) {
        const std::vector<std::string> stayed = PutBack(swapped, system);
        mixed.insert(mixed.end(), stayed.begin(), stayed.end());
        dropTemps();
        if (!mixed.empty()) {
            // The journal and the old copies stay: the next start puts the old side back.
            return {InstallResult::LeftMixed, "left mixed: " + JoinNames(mixed) + " (" + busy + " stayed locked)"};
        }
        DeleteFileW(journal.c_str());
        return {InstallResult::RolledBack, busy + " stayed locked"};
    }
    for (const Swapped& s : swapped) {
        if (s.hadOld) DeleteFileW((s.file->destination + kOldSuffix).c_str());
    }
    return {InstallResult::Installed, std::string(), files.size()};
}

void TidyInterruptedInstall(const std::string& installDir) {
    const JournalRestore restore = RestoreFromUpdateJournal(installDir);
    const bool complete = !restore.found || (!restore.unreadable && restore.mixed.empty());
    if (restore.found) {
        if (restore.unreadable) {
            WriteAuditLine("update", "[update] unreadable installation journal in " + installDir +
                                         ": files left as they are", "");
        } else if (!restore.mixed.empty()) {
            WriteAuditLine("update", "[update] earlier installation still mixed: " + JoinNames(restore.mixed), "");
        } else {
            WriteAuditLine("update", "[update] earlier installation put back: " + std::to_string(restore.restored) +
                                         " files in " + installDir, "");
        }
    }
    TidyFolder(Utf8ToUtf16(installDir), 0, !complete);
}

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
    case InstallResult::LeftMixed:
        system.log("[update] installer " + outcome.detail);
        break;
    }
    bool restarted = false;
    if (RestartsAsService(request.hostArgs)) {
        restarted = system.startService();
    } else {
        restarted = system.startProgram(BuildRestartCommandLine(request.targetExe, ArgumentsToHandOn(request.hostArgs)),
                                        installDir);
    }
    const int code = outcome.result == InstallResult::LeftMixed
                         ? kApplyLeftMixed
                         : ApplyExitCode(restarted, outcome.result == InstallResult::Installed);
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
