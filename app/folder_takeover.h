#pragma once
// The service's data folder under ProgramData, which any user can create before the
// service first starts: made with its access list given at creation, secured in place
// when it is one the service made (owned by SYSTEM or Administrators, and carrying still
// exactly the list it was made with), moved aside otherwise: whoever made a folder may
// hold a handle that keeps the access he had, and a folder that an administrator or a
// script made beforehand inherits ProgramData's list, under which every user may have
// added files that the owner check alone would keep. Plain decisions and the walk
// through handles that the caller's operations open without following links; the
// Windows calls are the caller's (app/service_data_folder.h), so both are tested apart.
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
    // Read for the data folder alone: its access list is exactly the one the service
    // gives the folder it makes (app/access_list.h says what "exactly" compares).
    bool ownList = false;
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
// Under the name of the uploads folder only a folder is kept: a file there would stop
// every upload.
TakeOverAction DecideTakeOver(const EntryFacts& facts, bool uploadsFolder = false);

enum class DataFolderAction {
    SecureInPlace,  // the service's own: SYSTEM's or Administrators', with the service's list
    MoveAside,      // anyone else's, or one whose list let others in: renamed beside it, a fresh one made
    Refuse,         // a link or a file that SYSTEM or Administrators put there
};

DataFolderAction DecideDataFolder(const EntryFacts& facts);

// The security descriptors, in SDDL. The folder itself is owned by Administrators with
// a protected list granting full control to SYSTEM and Administrators only, inherited by
// everything inside; an entry inside gets exactly that list as inherited entries. The
// uploads folder alone also lets the machine's interactive users read and run what it
// holds (inherited by its files), so the person at the PC can open what a technician sent.
const wchar_t* FolderTopSddl();
const wchar_t* FolderEntrySddl(EntryKind kind);
const wchar_t* UploadsFolderSddl();
const wchar_t* UploadsEntrySddl(EntryKind kind);

// The uploads folder's name inside the data folder (matched without regard to ASCII case).
constexpr const char* kUploadsFolderName = "received";

// One name as the system listed it, kept in UTF-16 to be opened as exactly itself, with
// its UTF-8 text for messages.
struct FolderName {
    std::wstring name;
    std::string text;
};

// What the walk asks of the system. A handle is the caller's: 0 means none.
struct FolderOps {
    using Handle = uintptr_t;
    // Opens `name` inside the open folder `parent` (0: `name` is the data folder's full
    // path) without following a link at that step; fills what it is and who owns it.
    std::function<Handle(Handle parent, const std::wstring& name, EntryFacts& facts)> open;
    // The names inside an open folder, without "." and "..".
    std::function<bool(Handle folder, std::vector<FolderName>& names)> list;
    // Owner and access list through the handle, protected when the descriptor says so.
    std::function<bool(Handle entry, const wchar_t* sddl)> secure;
    // Removes the opened entry's name through its handle.
    std::function<bool(Handle entry)> removeName;
    // Makes folder `name` inside `parent` (0: a full path) with the descriptor given at
    // creation; false when it was not made, with `existed` set when the name was taken.
    std::function<bool(Handle parent, const std::wstring& name, const wchar_t* sddl, bool& existed)> create;
    // Renames the opened entry to the full path `to`, never replacing anything there.
    std::function<bool(Handle entry, const std::wstring& to)> rename;
    // A time stamp for the name of a folder moved aside (ASCII).
    std::function<std::string()> stamp;
    std::function<void(Handle entry)> close;
};

// How far the walk goes down; deeper trees are refused rather than half secured.
constexpr int kMaxTakeOverDepth = 32;
// Names tried for a folder moved aside before giving up.
constexpr int kMaxAsideNames = 16;

struct TakeOverResult {
    std::string problem;  // empty on success, else what failed
    size_t removed = 0;   // names removed, those inside removed folders included
    std::string movedTo;  // where a folder that was not the service's own was moved, else empty
    std::string movedWhy; // why it was: "was made by another account", "had an access list ..."
};

// Makes the data folder `root` (a full path), or secures or moves aside the one found
// there, then makes its uploads folder.
TakeOverResult PrepareDataFolder(const FolderName& root, const FolderOps& ops);

}  // namespace sv
