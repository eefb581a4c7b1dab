#pragma once
// Taking over a folder that someone else may have made first (the service's data folder
// under ProgramData, which any user can create): what to do with the folder and with
// every entry inside it, walked through handles that the caller's operations open
// without following links. Plain decisions and the walk; the Windows calls are the
// caller's (app/service_data_folder.h), so both are tested apart.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sv {

enum class EntryKind {
    File,
    Directory,
    Link,  // any reparse point: junction, symbolic link, mount point
};

struct EntryFacts {
    EntryKind kind = EntryKind::File;
    uint32_t names = 1;  // hard links of a file
    // Owned by an account the service writes as (SYSTEM, Administrators, the account the
    // process runs as), read before the walk resets the owner. Anyone else's entry was
    // not written by the service.
    bool trustedOwner = false;
};

enum class TakeOverAction {
    Secure,           // owner and access list become the folder's own, inherited
    SecureAndEnter,   // the same for a folder, then everything inside it
    RemoveName,       // removed as itself (never what it points to)
    RemoveTree,       // a folder removed with everything inside it, whoever owns that
};

// A link would lead the service's writes elsewhere; a file with a second name elsewhere
// would have that other file's access list rewritten. Both lose their name here. What
// another account wrote (a password it knows, a device identity it chose) is never kept.
TakeOverAction DecideTakeOver(const EntryFacts& facts);

// The security descriptors, in SDDL: the folder itself is owned by Administrators with
// a protected list granting full control to SYSTEM and Administrators only, inherited
// by everything inside; an entry inside gets exactly that list as inherited entries.
const wchar_t* FolderTopSddl();
const wchar_t* FolderEntrySddl(EntryKind kind);

// What the walk asks of the system. A handle is the caller's: 0 means none.
struct FolderOps {
    using Handle = uintptr_t;
    // Opens `path` without following a link at its last step (the steps before it are
    // folders this walk holds open); fills what it is and who owns it, or fails.
    std::function<Handle(const std::string& path, EntryFacts& facts)> open;
    // The names inside an open folder, without "." and "..".
    std::function<bool(Handle folder, std::vector<std::string>& names)> list;
    // Owner and access list through the handle; `top` for the folder itself.
    std::function<bool(Handle entry, EntryKind kind, bool top)> secure;
    // Removes the opened entry's name through its handle.
    std::function<bool(Handle entry)> removeName;
    std::function<void(Handle entry)> close;
};

// How far the walk goes down; deeper trees are refused rather than half secured.
constexpr int kMaxTakeOverDepth = 32;

struct TakeOverResult {
    std::string problem;  // empty on success, else what failed
    size_t removed = 0;   // names removed, those inside removed folders included
};

// Secures `root` and everything inside it; the root's own owner does not matter (it is
// the folder being taken over). A root that is a link or not a folder is refused untouched.
TakeOverResult TakeOverFolder(const std::string& root, const FolderOps& ops);

}  // namespace sv
