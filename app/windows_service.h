#pragma once
// The Windows service "SorvaneHost": installing, removing and running under the
// service control manager (its data folder: app/service_data_folder.h).
#include <cstdint>
#include <functional>
#include <string>

namespace sv {

class Host;

// 0 created; 1 the manager could not be opened; 2 the service could not be created
// (one that exists already included). `executablePath` is UTF-8.
int InstallService(const std::string& executablePath);

// Why the program at `executablePath` (UTF-8) must not be installed as a service, empty
// when it may: its folder, the program or the CA file the service will find
// (`caBundlePath`, when it exists) can be changed by an account other than SYSTEM,
// Administrators and TrustedInstaller (app/access_list.h), who would then run code, or
// choose whom the host trusts, as LocalSystem. The folder also holds the update journal
// and what the tidy-up after an update removes.
std::string InstallLocationProblem(const std::string& executablePath, const std::string& caBundlePath);

// 0 deleted; 1 the manager could not be opened; 2 no such service (or no access);
// 3 the deletion failed.
int UninstallService();

// Hands the process to the service dispatcher; `hostMain` runs on the service's worker
// thread and `host` is stopped on a stop or shutdown request. 0 when the dispatcher ran,
// 1 when it refused (the process was not started by the service control manager).
int RunAsService(std::function<int()> hostMain, Host* host);

// The service's own exit codes, reported with ERROR_SERVICE_SPECIFIC_ERROR (1066) when a
// start ends before the host runs; `sc query SorvaneHost` shows them as SERVICE_EXIT_CODE,
// and the event log holds the line that says why.
constexpr uint32_t kServiceExitAnotherInstance = 1;  // another program holds "Global\SorvaneHostWin7"
constexpr uint32_t kServiceExitDataFolder = 2;       // the data folder cannot be made, secured or written
constexpr uint32_t kServiceExitSettings = 3;         // the relay address or the CA file can never work

// Ends a service start before the host runs: the service reports STOPPED with `code` at
// once, where the manager would otherwise wait for a status and end in a time-out that
// says nothing. False when the process was not started by the service control manager.
bool RefuseServiceStart(uint32_t code);

// One error entry in the Application event log under the service's own source name: where
// a service's failure can be read, it having no console, and where an administrator looks
// when the service would not start and no folder of its own can be trusted to hold the line.
void WriteServiceEventLog(const std::string& line);

}  // namespace sv
