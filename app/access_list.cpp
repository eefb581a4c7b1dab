#include "app/access_list.h"

#include <algorithm>

namespace sv {

bool SameAccessList(const AccessList& found, const AccessList& made) {
    return found.present && made.present && found.isProtected == made.isProtected &&
           std::is_permutation(found.entries.begin(), found.entries.end(), made.entries.begin(), made.entries.end());
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
        {0x10000000, "do anything", "do anything"},                     // GENERIC_ALL
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

// The first allow entry of someone else whose rights meet `rights`, in the words
// `ChangingRight` gives them; the owner and a missing list first.
OtherWriter FindOther(const ObjectSecurity& security, bool folder, uint32_t rights) {
    if (!TrustedAccount(security.owner)) return {security.owner.empty() ? "(no owner)" : security.owner, "owns it"};
    if (!security.list.present) return {"S-1-1-0", "may do anything: it has no access list"};
    for (const AccessEntry& entry : security.list.entries) {
        if (!Allows(entry.type) || (entry.flags & kAceInheritOnly) != 0 || TrustedAccount(entry.sid)) continue;
        const std::string right = ChangingRight(entry.mask & rights, folder);
        if (!right.empty()) return {entry.sid.empty() ? "(unreadable account)" : entry.sid, "may " + right};
    }
    return {};
}

}  // namespace

OtherWriter FindOtherWriter(const ObjectSecurity& security, bool folder) {
    return FindOther(security, folder, 0xFFFFFFFFu);
}

OtherWriter FindOtherMover(const ObjectSecurity& ancestor) {
    // Adding to a folder above moves nothing; deleting or renaming what it holds, or
    // itself, does, and so does rewriting its list or owner to grant that.
    return FindOther(ancestor, true, 0x10000000 | 0x00000040 | 0x00010000 | 0x00040000 | 0x00080000);
}

std::string FolderAbove(const std::string& folder) {
    std::string path = folder;
    if (path.empty()) return path;
    while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    if (path.size() <= 2 && path.back() == ':') return std::string();  // a drive's root
    const size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos || slash == 0) return std::string();
    std::string above = path.substr(0, slash);
    if (above.back() == ':') return above + '\\';
    // "\\server\share" is a share's root: nothing above it can be read as a folder.
    if (above.rfind("\\\\", 0) == 0 && above.find_first_of("\\/", 2) == std::string::npos) return std::string();
    if (above.find_first_not_of("\\/") == std::string::npos) return std::string();
    return above;
}

}  // namespace sv
