#include "app/access_list.h"

namespace sv {

bool SameAccessList(const AccessList& found, const AccessList& made) {
    if (!found.present || !made.present || found.isProtected != made.isProtected) return false;
    if (found.entries.size() != made.entries.size()) return false;
    std::vector<bool> matched(made.entries.size(), false);
    for (const AccessEntry& entry : found.entries) {
        bool hit = false;
        for (size_t i = 0; i < made.entries.size() && !hit; ++i) {
            if (!matched[i] && made.entries[i] == entry) matched[i] = hit = true;
        }
        if (!hit) return false;
    }
    return true;
}

namespace {

bool TrustedAccount(const std::string& sid) {
    return sid == kSystemSid || sid == kAdministratorsSid || sid == kTrustedInstallerSid;
}

bool Allows(uint8_t type) {
    return type == kAceAllow || type == kAceAllowObject || type == kAceAllowCallback ||
           type == kAceAllowCallbackObject;
}

// The first right in `mask` that changes the object, in words; empty when none does.
const char* ChangingRight(uint32_t mask, bool folder) {
    struct Right {
        uint32_t bit;
        const char* file;
        const char* folder;
    };
    static const Right rights[] = {
        {0x10000000, "full control", "full control"},                   // GENERIC_ALL
        {0x40000000, "write", "write"},                                 // GENERIC_WRITE
        {0x00000002, "write", "add files"},                             // FILE_WRITE_DATA / FILE_ADD_FILE
        {0x00000004, "append", "add folders"},                          // FILE_APPEND_DATA / FILE_ADD_SUBDIRECTORY
        {0x00000040, nullptr, "delete what it holds"},                  // FILE_DELETE_CHILD
        {0x00010000, "delete it", "delete it"},                         // DELETE
        {0x00040000, "change its access list", "change its access list"},  // WRITE_DAC
        {0x00080000, "take ownership", "take ownership"},               // WRITE_OWNER
    };
    for (const Right& right : rights) {
        const char* words = folder ? right.folder : right.file;
        if ((mask & right.bit) != 0 && words != nullptr) return words;
    }
    return "";
}

}  // namespace

OtherWriter FindOtherWriter(const ObjectSecurity& security, bool folder) {
    if (!TrustedAccount(security.owner)) return {security.owner.empty() ? "(no owner)" : security.owner, "owns it"};
    if (!security.list.present) return {"S-1-1-0", "may do anything: it has no access list"};
    for (const AccessEntry& entry : security.list.entries) {
        if (!Allows(entry.type) || (entry.flags & kAceInheritOnly) != 0 || TrustedAccount(entry.sid)) continue;
        const std::string right = ChangingRight(entry.mask, folder);
        if (!right.empty()) return {entry.sid.empty() ? "(unreadable account)" : entry.sid, "may " + right};
    }
    return {};
}

}  // namespace sv
