#pragma once
// The Windows service "SorvaneHost": installing, removing and running under the
// service control manager (its data folder: app/service_data_folder.h).
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

// One error entry in the Application event log under the service's own source name: where
// a service's failure can be read, it having no console, and where an administrator looks
// when the service would not start and no folder of its own can be trusted to hold the line.
void WriteServiceEventLog(const std::string& line);

}  // namespace sv
