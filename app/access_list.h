#pragma once
// Owners and access lists of files and folders as plain values, and the decisions the
// service takes over them: whether a folder found under the data folder's name carries
// exactly the list the service gives the folder it makes.
// Read from the system by app/security_reading.h; nothing here calls Windows.
#include <cstdint>
#include <string>
#include <vector>

namespace sv {

// Raw entry types as stored in a list (ACCESS_ALLOWED_ACE_TYPE, ACCESS_DENIED_ACE_TYPE).
constexpr uint8_t kAceAllow = 0x0;
constexpr uint8_t kAceDeny = 0x1;

// Entry flags (OBJECT_INHERIT_ACE, CONTAINER_INHERIT_ACE, INHERITED_ACE).
constexpr uint8_t kAceObjectInherit = 0x01;
constexpr uint8_t kAceContainerInherit = 0x02;
constexpr uint8_t kAceInherited = 0x10;

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

}  // namespace sv
