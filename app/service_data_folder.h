#pragma once
// The service's data folder under ProgramData: made with its access list given at
// creation, secured in place when it is the service's own (SYSTEM's or Administrators',
// with that list), moved aside otherwise, so that only SYSTEM and Administrators have
// any access to it or to anything in it (the uploads folder also lets the PC's users
// read). The LocalSystem service keeps the password and the device secret there, and
// writes, deletes and runs what it finds there.
#include <functional>
#include <string>

#include "app/folder_takeover.h"

namespace sv {

// The Windows side of app/folder_takeover.h: the folder opened by its full "\\?\" path,
// every entry by its listed name inside its parent's handle with the last step never
// followed, folders held open without delete sharing while the walk is inside them,
// owner and list set, names removed and the folder renamed through the handles.
FolderOps RealFolderOps();

// Makes `dir`, secures it or moves it aside (app/folder_takeover.h). Empty on success,
// else what failed. A failure is handed to `reportFailure` as one line and nothing is
// written into `dir`; the audit log is pointed at `dir` only once it is secured.
std::string SecureServiceDataDir(const std::string& dir, const std::function<void(const std::string&)>& reportFailure);
// The same through the given operations (tests stand in for what Wine does not keep).
std::string SecureServiceDataDir(const std::string& dir, const std::function<void(const std::string&)>& reportFailure,
                                 const FolderOps& ops);
// The same, failures reported to the Windows event log (the caller prints them too).
std::string SecureServiceDataDir(const std::string& dir);

}  // namespace sv
