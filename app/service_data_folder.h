#pragma once
// The service's data folder under ProgramData: made, or taken over when someone made it
// first, so that only SYSTEM and Administrators have any access to it or to anything in
// it. The LocalSystem service keeps the password and the device secret there, and
// writes, deletes and runs what it finds there.
#include <string>

#include "app/folder_takeover.h"

namespace sv {

// The Windows side of app/folder_takeover.h: entries opened by path with the last step
// never followed, folders held open without delete sharing while the walk is inside
// them, owner and list set and names removed through the handles.
FolderOps RealFolderOps();

// Creates `dir` with the service's access list, or takes it over (app/folder_takeover.h).
// Empty on success, else what failed; a failure is also written to the audit log in
// `dir` when `dir` is a plain folder (never through a link).
std::string SecureServiceDataDir(const std::string& dir);

}  // namespace sv
