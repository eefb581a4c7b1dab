#pragma once
// The second process of an update: the new program, started from the staging folder,
// waits for the running host to end, puts the staged files over the installation and
// starts the host again, as the service or as a program with its own arguments.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sv {

// Starts "<staging>\<name of exePath>" --apply-update ... (app/update_command_line.h)
// detached and without a window; true when the process was created.
bool LaunchUpdaterHelper(const std::string& stagingDir, const std::string& exePath,
                         const std::vector<std::string>& hostArgs);

// What the installer does to the system, replaceable in tests.
struct InstallerSystem {
    std::function<void(uint32_t pid)> waitForParent;  // bounded wait for the old host to end
    std::function<void(uint32_t ms)> pause;           // between attempts on a busy file
    std::function<bool()> startService;               // the "SorvaneHost" service
    // Creates the process of `commandLine` with `workingDir` as its working directory.
    std::function<bool(const std::wstring& commandLine, const std::string& workingDir)> startProgram;
};
InstallerSystem RealInstallerSystem();

// The files are put in place all or none: each is first copied beside its destination
// under a temporary name, then the old files are moved aside and the new ones moved in;
// a file that stays busy through every attempt puts everything back as it was.
// Returns false when the installation was left (or put back) as it was.
bool InstallStagedFiles(const std::string& stagingDir, const std::string& installDir, const InstallerSystem& system);

// "--apply-update" and everything after it removed: the process exit code
// (app/update_command_line.h).
int ApplyStagedUpdate(const std::vector<std::string>& words);
int ApplyStagedUpdate(const std::vector<std::string>& words, const InstallerSystem& system);

constexpr int kInstallAttempts = 10;
constexpr uint32_t kInstallRetryPauseMs = 1000;
constexpr uint32_t kParentWaitMs = 60000;

}  // namespace sv
