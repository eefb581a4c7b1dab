#pragma once
// Owners and access lists of files and folders as plain values, and the decisions the
// service takes over them: whether a folder found under the data folder's name carries
// exactly the list the service gives the folder it makes, and whether anyone but the
// system's own accounts may change the program that is to run as LocalSystem.
// Read from the system by app/security_reading.h; nothing here calls Windows.
#include <cstdint>
#include <string>
#include <vector>

namespace sv {

// Raw entry types as stored in a list (ACCESS_ALLOWED_ACE_TYPE, ACCESS_DENIED_ACE_TYPE,
// and the allowing object and callback types).
constexpr uint8_t kAceAllow = 0x0;
constexpr uint8_t kAceDeny = 0x1;
constexpr uint8_t kAceAllowObject = 0x5;
constexpr uint8_t kAceAllowCallback = 0x9;
constexpr uint8_t kAceAllowCallbackObject = 0xB;

// Entry flags (OBJECT_INHERIT_ACE, CONTAINER_INHERIT_ACE, INHERIT_ONLY_ACE, INHERITED_ACE).
constexpr uint8_t kAceObjectInherit = 0x01;
constexpr uint8_t kAceContainerInherit = 0x02;
constexpr uint8_t kAceInheritOnly = 0x08;
constexpr uint8_t kAceInherited = 0x10;

// The accounts that may change what the service runs and reads: SYSTEM, Administrators,
// and TrustedInstaller, which owns what Windows itself installs.
constexpr const char* kSystemSid = "S-1-5-18";
constexpr const char* kAdministratorsSid = "S-1-5-32-544";
constexpr const char* kTrustedInstallerSid = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

struct AccessEntry {
    uint8_t type = kAceAllow;
    uint8_t flags = 0;
    uint32_t mask = 0;
    std::string sid;  // "S-1-5-18"
    bool operator==(const AccessEntry& other) const {
        return type == other.type && flags == other.flags && mask == other.mask && sid == other.sid;
    }
};

struct AccessList {
    bool present = false;      // no list at all lets everyone do everything
    bool isProtected = false;  // takes nothing from the parent's inheritable entries
    std::vector<AccessEntry> entries;
};

struct ObjectSecurity {
    std::string owner;  // SID; the owner may always rewrite the list
    AccessList list;
};

// Exactly the same list: both present, the same protected flag, and the entries matched
// one to one by type, inheritance flags, access mask and SID. Their order is not compared
// (the lists this is used for hold allow entries only, which grant the same in any
// order, and a deny entry in one has no match in the other); the auto-inherited flag is
// not compared either, as it only records how a list was last propagated.
bool SameAccessList(const AccessList& found, const AccessList& made);

// Someone other than SYSTEM, Administrators and TrustedInstaller who may change a file or
// folder, and what they may do; `sid` empty when there is nobody.
struct OtherWriter {
    std::string sid;
    std::string right;  // "owns it", "may add files", "may write", ...
};

// Who else may change the program, or the folder it runs from (`folder`), whose other
// files the service reads and writes as LocalSystem: the owner, who may always rewrite
// the list; everyone, when there is no list; else the first allow entry that applies to
// the object itself (inherit-only entries do not) and grants writing, appending, adding
// files or folders, deleting it or what a folder holds, rewriting its list or owner, or
// the generic write and all rights. Deny entries are not weighed against allow entries:
// a grant that a deny entry might cancel is still refused, as the order and the groups
// that decide it are not known here.
OtherWriter FindOtherWriter(const ObjectSecurity& security, bool folder);

// Someone other than those three who may move the program's folder away from under the
// service by way of `ancestor`, a folder above it: by deleting or renaming what it holds
// or itself (the rename leaves a folder of their own in its place), or by rewriting its
// list or owner to grant that; the owner and a missing list as above. Adding files or
// folders to it changes nothing of the program's.
OtherWriter FindOtherMover(const ObjectSecurity& ancestor);

// The folder that holds `folder` ("C:\\a" for "C:\\a\\b", "C:\\" for "C:\\a"); empty above a
// drive's or a share's root.
std::string FolderAbove(const std::string& folder);

}  // namespace sv
