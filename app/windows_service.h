#pragma once
// The Windows service "SorvaneHost": installing, removing and running under the
// service control manager, and the service's own data folder.
#include <functional>
#include <string>

namespace sv {

class Host;

// 0 created; 1 the manager could not be opened; 2 the service could not be created
// (one that exists already included). `executablePath` is UTF-8.
int InstallService(const std::string& executablePath);

// 0 deleted; 1 the manager could not be opened; 2 no such service (or no access);
// 3 the deletion failed.
int UninstallService();

// Hands the process to the service dispatcher; `hostMain` runs on the service's worker
// thread and `host` is stopped on a stop or shutdown request. 0 when the dispatcher ran,
// 1 when it refused (the process was not started by the service control manager).
int RunAsService(std::function<int()> hostMain, Host* host);

// Makes `dir` a folder that only SYSTEM and Administrators may write to (owned by
// Administrators, inherited by everything made inside it), replacing a link planted in
// its place. The LocalSystem service follows, deletes and runs what it finds there.
// Empty on success, else what failed.
std::string SecureServiceDataDir(const std::string& dir);

}  // namespace sv
