#include "app/security_reading.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstring>

#include "base/text_encoding.h"

namespace sv {
namespace {

std::string SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (sid == nullptr || !IsValidSid(sid) || !ConvertSidToStringSidW(sid, &text)) return std::string();
    std::string result = Utf16ToUtf8(text);
    LocalFree(text);
    return result;
}

// Object entries carry up to two GUIDs between their mask and their SID.
bool IsObjectEntry(BYTE type) {
    return (type >= ACCESS_ALLOWED_OBJECT_ACE_TYPE && type <= SYSTEM_ALARM_OBJECT_ACE_TYPE) ||
           type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE || type == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE ||
           type == SYSTEM_AUDIT_CALLBACK_OBJECT_ACE_TYPE || type == SYSTEM_ALARM_CALLBACK_OBJECT_ACE_TYPE;
}

// Every entry type has its mask right after the header; the SID follows it, or the
// object GUIDs that are present. An SID that does not fit the entry is left empty.
AccessEntry ReadEntry(const unsigned char* ace) {
    ACE_HEADER header;
    std::memcpy(&header, ace, sizeof(header));
    AccessEntry entry;
    entry.type = header.AceType;
    entry.flags = header.AceFlags;
    size_t sidAt = sizeof(ACE_HEADER) + sizeof(DWORD);
    if (header.AceSize >= sidAt) std::memcpy(&entry.mask, ace + sizeof(ACE_HEADER), sizeof(DWORD));
    if (IsObjectEntry(header.AceType) && header.AceSize >= sidAt + sizeof(DWORD)) {
        DWORD objectFlags = 0;
        std::memcpy(&objectFlags, ace + sidAt, sizeof(DWORD));
        sidAt += sizeof(DWORD);
        if (objectFlags & ACE_OBJECT_TYPE_PRESENT) sidAt += sizeof(GUID);
        if (objectFlags & ACE_INHERITED_OBJECT_TYPE_PRESENT) sidAt += sizeof(GUID);
    }
    if (header.AceSize >= sidAt + 8) {
        PSID sid = const_cast<unsigned char*>(ace + sidAt);
        if (IsValidSid(sid) && sidAt + GetLengthSid(sid) <= header.AceSize) entry.sid = SidText(sid);
    }
    return entry;
}

}  // namespace

bool ReadObjectSecurity(const void* descriptor, ObjectSecurity& security) {
    auto* sd = const_cast<void*>(descriptor);
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (sd == nullptr || !GetSecurityDescriptorOwner(sd, &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) ||
        !GetSecurityDescriptorControl(sd, &control, &revision)) {
        return false;
    }
    security.owner = SidText(owner);
    security.list = AccessList{};
    // A list that is missing, or present but null, keeps nobody out.
    security.list.present = present && dacl != nullptr;
    security.list.isProtected = (control & SE_DACL_PROTECTED) != 0;
    if (!security.list.present) return true;
    ACL_SIZE_INFORMATION size{};
    if (!GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation)) return false;
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return false;
        security.list.entries.push_back(ReadEntry(static_cast<const unsigned char*>(ace)));
    }
    return true;
}

bool ReadSddlSecurity(const wchar_t* sddl, ObjectSecurity& security) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        return false;
    }
    const bool read = ReadObjectSecurity(descriptor, security);
    LocalFree(descriptor);
    return read;
}

bool ReadHandleSecurity(void* handle, ObjectSecurity& security) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(static_cast<HANDLE>(handle), SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const bool read = ReadObjectSecurity(descriptor, security);
    LocalFree(descriptor);
    return read;
}

bool ReadPathSecurity(const std::string& path, ObjectSecurity& security) {
    HANDLE h = CreateFileW(Utf8ToUtf16(path).c_str(), READ_CONTROL,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool read = ReadHandleSecurity(h, security);
    CloseHandle(h);
    return read;
}

std::string AccountName(const std::string& sid) {
    PSID binary = nullptr;
    if (!ConvertStringSidToSidW(Utf8ToUtf16(sid).c_str(), &binary)) return sid;
    wchar_t name[256], domain[256];
    DWORD nameSize = 256, domainSize = 256;
    SID_NAME_USE use;
    std::string result = sid;
    if (LookupAccountSidW(nullptr, binary, name, &nameSize, domain, &domainSize, &use)) {
        result = Utf16ToUtf8(domainSize != 0 ? std::wstring(domain) + L"\\" + name : std::wstring(name));
    }
    LocalFree(binary);
    return result;
}

}  // namespace sv
