#pragma once
// The command lines of an update: the installer's (the new program started from the
// staging folder with "--apply-update") and the restarted host's, and reading the
// installer's arguments back. Plain text rules, no Windows calls.
#include <cstdint>
#include <string>
#include <vector>

namespace sv {

// One argument quoted so that the C runtime's and CommandLineToArgvW's parsing give it
// back unchanged: left as it is unless empty or holding a space, tab, line break or
// double quote; otherwise enclosed in double quotes, with each double quote escaped and
// the backslashes in front of a double quote (or of the closing one) doubled. UTF-8 in.
std::wstring QuoteCommandLineArg(const std::string& arg);

// "<staging>\<name of the running program>" --apply-update <pid> "<staging>" "<target>" <args...>
std::wstring BuildUpdaterCommandLine(const std::string& updaterExe, uint32_t parentPid,
                                     const std::string& stagingDir, const std::string& targetExe,
                                     const std::vector<std::string>& hostArgs);

// "<target>" <args...>: how the installer starts the updated program again.
std::wstring BuildRestartCommandLine(const std::string& targetExe, const std::vector<std::string>& hostArgs);

// The host's own arguments as the updated program gets them: all but "--enroll" and
// its words (the enrolment is recorded in device.json; posting a spent token again
// would stop the host). Words are read as the option reading reads them, so a value
// that merely looks like "--enroll" stays.
std::vector<std::string> ArgumentsToHandOn(const std::vector<std::string>& hostArgs);

// What follows "--apply-update": parent process id, staging folder, target program,
// then the host's own arguments.
struct ApplyRequest {
    uint32_t parentPid = 0;
    std::string stagingDir;
    std::string targetExe;
    std::vector<std::string> hostArgs;
};
// False when fewer than three words are given. The id is read like strtoul: leading
// digits, the rest ignored, saturated at the largest value.
bool ParseApplyArguments(const std::vector<std::string>& words, ApplyRequest& request);

// The folder of the program to replace; "." for a bare file name.
std::string InstallDirectoryOf(const std::string& targetExe);

// Restart through the service manager when the host ran as the service.
bool RestartsAsService(const std::vector<std::string>& hostArgs);

// The installer's exit code.
constexpr int kApplyOk = 0;
constexpr int kApplyRestartFailed = 2;
constexpr int kApplyMissingArguments = 3;
constexpr int kApplyIncomplete = 4;
// A file could not be put back: old and new files stand side by side until the next
// start restores the old ones.
constexpr int kApplyLeftMixed = 5;
int ApplyExitCode(bool restarted, bool installedWhole);

}  // namespace sv
