#pragma once
// The second process of an update: the new program, started from a folder that holds
// nothing but itself, waits for the running host to end, puts the files the signed
// manifest names over the installation and starts the host again, as the service or
// as a program with its own arguments.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sv {

// Copies the staged executable named like `exePath`, checked against the staged
// manifest (verified under `keyBase64`), alone into a fresh "update-runner" folder
// beside the staging folder, and starts it there with "--apply-update ..."
// (app/update_command_line.h), detached and without a window. Neither the staging
// folder nor anything else that could hold unverified files is ever a folder the
// installer runs or loads code from. True when the process was created.
bool LaunchUpdaterHelper(const std::string& stagingDir, const std::string& exePath,
                         const std::vector<std::string>& hostArgs, const std::string& keyBase64);

// Whether a file can be created in, and removed from, `dir`: the installer could not
// replace the program otherwise, and the host is not stopped for an update that
// cannot be installed.
bool FolderAcceptsNewFiles(const std::string& dir);

// What an interrupted installation left under `installDir`. While its journal
// (app/update_journal.h) is there, the installation did not complete: every old copy
// is put back over its name and every file it added removed, and only when all of that
// worked does the journal go. Then (and without a journal) a file moved aside goes back
// when nothing took its place and is removed otherwise; a half-placed new one is
// removed. Old copies are never removed while a journal stays. The outcome is an audit
// line. Links are not followed.
void TidyInterruptedInstall(const std::string& installDir);

struct JournalRestore {
    bool found = false;       // a journal was there
    bool unreadable = false;  // and could not be read: nothing was touched
    size_t restored = 0;      // entries put back (or found as they were)
    std::vector<std::string> mixed;  // files (or the journal) that could not be put right
};
// The journal part of the tidy.
JournalRestore RestoreFromUpdateJournal(const std::string& installDir);

// What the installer does to the system, replaceable in tests.
struct InstallerSystem {
    std::function<void(uint32_t pid)> waitForParent;  // bounded wait for the old host to end
    std::function<void(uint32_t ms)> pause;           // between attempts on a busy file
    std::function<bool()> startService;               // the "SorvaneHost" service
    // Creates the process of `commandLine` with `workingDir` as its working directory.
    std::function<bool(const std::wstring& commandLine, const std::string& workingDir)> startProgram;
    std::function<void(const std::string& line)> log;  // the installer's outcome
};
InstallerSystem RealInstallerSystem();

enum class InstallResult {
    Installed,   // every listed file is in place
    Refused,     // the staged manifest or a staged file did not verify: nothing touched
    RolledBack,  // a file could not be placed: everything put back as it was
    LeftMixed,   // and some could not be put back: the next start restores them
};
struct InstallOutcome {
    InstallResult result = InstallResult::Refused;
    std::string detail;  // why, when not installed
    size_t files = 0;    // how many were placed
};

// Installs exactly the files the staged manifest names, each read once and checked
// against its digest, from those very bytes; anything else in the staging folder is
// ignored. All or none: each file is first written beside its destination under a
// temporary name, the planned swaps are recorded in the journal, then the old files are
// moved aside and the new ones moved in; a file that stays busy through every attempt
// puts everything back as it was. What cannot be put back is reported as LeftMixed, and
// the journal and old copies stay for the next start.
InstallOutcome InstallStagedFiles(const std::string& stagingDir, const std::string& installDir,
                                  const std::string& keyBase64, const InstallerSystem& system);

// "--apply-update" and everything after it removed: the process exit code
// (app/update_command_line.h). The first form loads system DLLs from the system folder
// only, trusts the built-in signing key and writes its outcome to the audit log of the
// data folder that holds the staging folder.
int ApplyStagedUpdate(const std::vector<std::string>& words);
int ApplyStagedUpdate(const std::vector<std::string>& words, const InstallerSystem& system,
                      const std::string& keyBase64);

constexpr int kInstallAttempts = 10;
constexpr uint32_t kInstallRetryPauseMs = 1000;
constexpr uint32_t kParentWaitMs = 60000;

}  // namespace sv
