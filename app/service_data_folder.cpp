#include "app/service_data_folder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <vector>

#include "base/audit_log.h"
#include "base/text_encoding.h"

namespace sv {
namespace {

HANDLE Win32Handle(FolderOps::Handle handle) { return reinterpret_cast<HANDLE>(handle); }

using LocalDescriptor = std::unique_ptr<void, HLOCAL (*)(HLOCAL)>;

LocalDescriptor Descriptor(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        descriptor = nullptr;
    }
    return LocalDescriptor(descriptor, LocalFree);
}

// SYSTEM may lack the right to write a list or owner onto what a user made and denied
// to everyone else; taking ownership and restoring (as backups do) need no list. They
// are held only while the folder is taken over.
class TakeOverPrivileges {
public:
    TakeOverPrivileges() {
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token_)) {
            token_ = nullptr;
            return;
        }
        for (const wchar_t* name : {SE_TAKE_OWNERSHIP_NAME, SE_RESTORE_NAME, SE_BACKUP_NAME}) {
            TOKEN_PRIVILEGES wanted = {};
            wanted.PrivilegeCount = 1;
            wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
            TOKEN_PRIVILEGES before = {};
            DWORD size = sizeof(before);
            if (LookupPrivilegeValueW(nullptr, name, &wanted.Privileges[0].Luid) &&
                AdjustTokenPrivileges(token_, FALSE, &wanted, sizeof(before), &before, &size) &&
                GetLastError() == ERROR_SUCCESS) {
                previous_.push_back(before);
            }
        }
    }
    ~TakeOverPrivileges() {
        for (TOKEN_PRIVILEGES& before : previous_) AdjustTokenPrivileges(token_, FALSE, &before, 0, nullptr, nullptr);
        if (token_ != nullptr) CloseHandle(token_);
    }
    TakeOverPrivileges(const TakeOverPrivileges&) = delete;
    TakeOverPrivileges& operator=(const TakeOverPrivileges&) = delete;

private:
    HANDLE token_ = nullptr;
    std::vector<TOKEN_PRIVILEGES> previous_;  // each as it was before (none for one not held)
};

// The account this process runs as: LocalSystem for the service (whose files are owned
// by SYSTEM or Administrators anyway); under Wine, which keeps no owners, the one account
// every file is reported as owned by.
std::vector<unsigned char> ProcessUserSid() {
    std::vector<unsigned char> sid;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return sid;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size != 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        const PSID user = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
        const auto* bytes = static_cast<const unsigned char*>(user);
        sid.assign(bytes, bytes + GetLengthSid(user));
    }
    CloseHandle(token);
    return sid;
}

// Whether the entry's owner, read through its handle, is an account the service writes
// as; false when the owner cannot be read at all.
bool ReadOwnerTrust(HANDLE h, const std::vector<unsigned char>& self, bool& trusted) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    trusted = owner != nullptr &&
              (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
               (!self.empty() && EqualSid(owner, const_cast<unsigned char*>(self.data()))));
    LocalFree(descriptor);
    return owner != nullptr;
}

bool IsPlainFolder(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool plain = GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                       !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    CloseHandle(h);
    return plain;
}

}  // namespace

FolderOps RealFolderOps() {
    FolderOps ops;
    ops.open = [self = ProcessUserSid()](const std::string& path, EntryFacts& facts) -> FolderOps::Handle {
        const std::wstring wide = Utf8ToUtf16(path);
        // No delete sharing: a folder held here cannot be renamed or replaced meanwhile.
        HANDLE h = CreateFileW(wide.c_str(),
                               READ_CONTROL | WRITE_DAC | WRITE_OWNER | DELETE | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) return 0;
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(h, &info)) {
            CloseHandle(h);
            return 0;
        }
        facts.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryKind::Link
                     : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)   ? EntryKind::Directory
                                                                              : EntryKind::File;
        facts.names = info.nNumberOfLinks;
        // An owner that cannot be read stops the walk: neither kept unread nor removed.
        if (!ReadOwnerTrust(h, self, facts.trustedOwner)) {
            CloseHandle(h);
            return 0;
        }
        return reinterpret_cast<FolderOps::Handle>(h);
    };
    ops.list = [](FolderOps::Handle folder, std::vector<std::string>& names) {
        // Read through the handle itself, which was checked to be this very folder.
        HANDLE h = Win32Handle(folder);
        alignas(8) unsigned char buffer[16384];
        FILE_INFO_BY_HANDLE_CLASS what = FileIdBothDirectoryRestartInfo;
        for (;;) {
            if (!GetFileInformationByHandleEx(h, what, buffer, sizeof(buffer))) {
                return GetLastError() == ERROR_NO_MORE_FILES;
            }
            what = FileIdBothDirectoryInfo;
            for (size_t offset = 0;;) {
                const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + offset);
                const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
                if (name != L"." && name != L"..") names.push_back(Utf16ToUtf8(name));
                if (info->NextEntryOffset == 0) break;
                offset += info->NextEntryOffset;
            }
        }
    };
    ops.secure = [](FolderOps::Handle handle, EntryKind kind, bool top) {
        LocalDescriptor descriptor = Descriptor(top ? FolderTopSddl() : FolderEntrySddl(kind));
        if (!descriptor) return false;
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        PSID owner = nullptr;
        if (!GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !present ||
            !GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted)) {
            return false;
        }
        const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                          (top ? PROTECTED_DACL_SECURITY_INFORMATION
                                               : UNPROTECTED_DACL_SECURITY_INFORMATION);
        return SetSecurityInfo(Win32Handle(handle), SE_FILE_OBJECT, what, owner,
                               nullptr, dacl, nullptr) == ERROR_SUCCESS;
    };
    ops.removeName = [](FolderOps::Handle handle) {
        // Through the handle opened on the link itself: nothing it points to is touched.
        FILE_DISPOSITION_INFO disposition = {TRUE};
        return SetFileInformationByHandle(Win32Handle(handle), FileDispositionInfo,
                                          &disposition, sizeof(disposition)) != 0;
    };
    ops.close = [](FolderOps::Handle handle) { CloseHandle(Win32Handle(handle)); };
    return ops;
}

std::string SecureServiceDataDir(const std::string& dir) {
    const std::wstring path = Utf8ToUtf16(dir);
    std::string problem;
    LocalDescriptor descriptor = Descriptor(FolderTopSddl());
    if (!descriptor) {
        problem = "security descriptor: error " + std::to_string(GetLastError());
    } else {
        SECURITY_ATTRIBUTES sa = {sizeof(sa), descriptor.get(), FALSE};
        if (!CreateDirectoryW(path.c_str(), &sa) && GetLastError() != ERROR_ALREADY_EXISTS) {
            problem = "cannot create " + dir + ": error " + std::to_string(GetLastError());
        } else {
            // Made by us or by anyone before: taken over whole either way.
            TakeOverPrivileges privileges;
            const TakeOverResult result = TakeOverFolder(dir, RealFolderOps());
            problem = result.problem;
            if (result.removed != 0) {
                SetAuditDirectory(dir);
                WriteAuditLine("service", "service data folder: " + std::to_string(result.removed) +
                                              " entries not written by the service removed", "");
            }
        }
    }
    if (!problem.empty() && IsPlainFolder(path)) {
        // A service has no console: the audit log is where an administrator looks.
        SetAuditDirectory(dir);
        WriteAuditLine("service", "service data folder: " + problem, "");
    }
    return problem;
}

}  // namespace sv
