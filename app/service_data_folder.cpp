#include "app/service_data_folder.h"

#include <windows.h>
#include <winternl.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "app/security_reading.h"
#include "app/windows_service.h"
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

// The list the service gives the data folder it makes, as the system reads it back.
const AccessList& MadeFolderList() {
    static const AccessList list = [] {
        ObjectSecurity made;
        if (!ReadSddlSecurity(FolderTopSddl(), made)) made.list = AccessList{};  // absent: nothing matches it
        return made.list;
    }();
    return list;
}

// Whether the entry's owner, read through its handle, is an account the service writes
// as, and for the data folder itself (`withList`) whether its list is the one the
// service made it with; false when the owner or that list cannot be read at all.
bool ReadOwnerTrust(HANDLE h, const std::vector<unsigned char>& self, bool withList, EntryFacts& facts) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | (withList ? DACL_SECURITY_INFORMATION : 0);
    if (GetSecurityInfo(h, SE_FILE_OBJECT, what, &owner, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    facts.trustedOwner =
        owner != nullptr &&
        (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
         (!self.empty() && EqualSid(owner, const_cast<unsigned char*>(self.data()))));
    ObjectSecurity found;
    const bool listRead = !withList || ReadObjectSecurity(descriptor, found);
    facts.ownList = withList && listRead && SameAccessList(found.list, MadeFolderList());
    LocalFree(descriptor);
    return owner != nullptr && listRead;
}

// The calls that open and make names inside a folder's handle, which Win32 paths cannot:
// they would drop a trailing dot or space, take "NUL" for the device and fold "...".
struct NtFileCalls {
    using OpenFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, ULONG, ULONG);
    using CreateFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                      ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
    using SetInformationFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
    OpenFn open = nullptr;
    CreateFn create = nullptr;
    SetInformationFn setInformation = nullptr;

    static const NtFileCalls& Get() {
        static const NtFileCalls calls = [] {
            NtFileCalls found;
            // ntdll is in every process already; nothing is loaded by name here.
            HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
            if (ntdll == nullptr) return found;
            found.open = reinterpret_cast<OpenFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtOpenFile")));
            found.create = reinterpret_cast<CreateFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")));
            found.setInformation = reinterpret_cast<SetInformationFn>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")));
            return found;
        }();
        return calls;
    }
};

constexpr ULONG kOpenForBackup = 0x4000;  // FILE_OPEN_FOR_BACKUP_INTENT
constexpr ULONG kNameCollision = 0xC0000035;  // STATUS_OBJECT_NAME_COLLISION

// A name inside the folder `parent`, as the system listed it.
struct RelativeName {
    UNICODE_STRING text{};
    OBJECT_ATTRIBUTES attributes{};
    RelativeName(HANDLE parent, const std::wstring& name, PSECURITY_DESCRIPTOR descriptor) {
        text.Buffer = const_cast<wchar_t*>(name.data());
        text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
        InitializeObjectAttributes(&attributes, &text, 0, parent, descriptor);
    }
    RelativeName(const RelativeName&) = delete;  // the attributes point at `text`
    RelativeName& operator=(const RelativeName&) = delete;
};

constexpr ACCESS_MASK kEntryAccess =
    READ_CONTROL | WRITE_DAC | WRITE_OWNER | DELETE | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | SYNCHRONIZE;

// No delete sharing: a folder held here cannot be renamed or replaced meanwhile.
HANDLE OpenEntry(FolderOps::Handle parent, const std::wstring& name) {
    if (parent == 0) {
        HANDLE h = CreateFileW(name.c_str(), kEntryAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        return h == INVALID_HANDLE_VALUE ? nullptr : h;
    }
    const NtFileCalls& nt = NtFileCalls::Get();
    if (nt.open == nullptr || name.size() > 32767) return nullptr;
    RelativeName relative(Win32Handle(parent), name, nullptr);
    IO_STATUS_BLOCK status{};
    HANDLE h = nullptr;
    if (nt.open(&h, kEntryAccess, &relative.attributes, &status, FILE_SHARE_READ | FILE_SHARE_WRITE,
                FILE_OPEN_REPARSE_POINT | kOpenForBackup | FILE_SYNCHRONOUS_IO_NONALERT) != 0) {
        return nullptr;
    }
    return h;
}

// `path` in the form that no later step rewrites: full, "\\?\" in front.
std::wstring ExtendedPath(const std::wstring& path) {
    if (path.empty()) return std::wstring();
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return std::wstring();
    std::wstring full(size, L'\0');
    size = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (size == 0 || size >= full.size()) return std::wstring();
    full.resize(size);
    if (full.compare(0, 4, L"\\\\?\\") == 0) return full;
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

}  // namespace

FolderOps RealFolderOps() {
    FolderOps ops;
    ops.open = [self = ProcessUserSid()](FolderOps::Handle parent, const std::wstring& name,
                                         EntryFacts& facts) -> FolderOps::Handle {
        HANDLE h = OpenEntry(parent, name);
        if (h == nullptr) return 0;
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
        if (!ReadOwnerTrust(h, self, parent == 0, facts)) {
            CloseHandle(h);
            return 0;
        }
        return reinterpret_cast<FolderOps::Handle>(h);
    };
    ops.list = [](FolderOps::Handle folder, std::vector<FolderName>& names) {
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
                std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
                if (name != L"." && name != L"..") {
                    std::string text = Utf16ToUtf8(name);
                    names.push_back(FolderName{std::move(name), std::move(text)});
                }
                if (info->NextEntryOffset == 0) break;
                offset += info->NextEntryOffset;
            }
        }
    };
    ops.secure = [](FolderOps::Handle handle, const wchar_t* sddl) {
        LocalDescriptor descriptor = Descriptor(sddl);
        if (!descriptor) return false;
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        PSID owner = nullptr;
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        if (!GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !present ||
            !GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted) ||
            !GetSecurityDescriptorControl(descriptor.get(), &control, &revision)) {
            return false;
        }
        const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                          ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
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
    ops.create = [](FolderOps::Handle parent, const std::wstring& name, const wchar_t* sddl, bool& existed) {
        // The list is there from the first moment: nobody else can ever open the folder.
        existed = false;
        LocalDescriptor descriptor = Descriptor(sddl);
        if (!descriptor) return false;
        if (parent == 0) {
            SECURITY_ATTRIBUTES sa = {sizeof(sa), descriptor.get(), FALSE};
            if (CreateDirectoryW(name.c_str(), &sa)) return true;
            existed = GetLastError() == ERROR_ALREADY_EXISTS;
            return false;
        }
        const NtFileCalls& nt = NtFileCalls::Get();
        if (nt.create == nullptr) return false;
        RelativeName relative(Win32Handle(parent), name, descriptor.get());
        IO_STATUS_BLOCK status{};
        HANDLE h = nullptr;
        const NTSTATUS result =
            nt.create(&h, FILE_LIST_DIRECTORY | SYNCHRONIZE, &relative.attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                      FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | kOpenForBackup, nullptr, 0);
        if (result != 0) {
            existed = static_cast<ULONG>(result) == kNameCollision;
            return false;
        }
        CloseHandle(h);
        return true;
    };
    ops.rename = [](FolderOps::Handle handle, const std::wstring& to) {
        // `to` is "\\?\" and a full path; the rename wants the same in the system's own form.
        const NtFileCalls& nt = NtFileCalls::Get();
        if (nt.setInformation == nullptr || to.compare(0, 4, L"\\\\?\\") != 0 || to.size() > 32767) return false;
        const std::wstring target = L"\\??\\" + to.substr(4);
        const size_t bytes = target.size() * sizeof(wchar_t);
        std::vector<unsigned char> buffer(offsetof(FILE_RENAME_INFORMATION, FileName) + bytes);
        auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
        info->ReplaceIfExists = FALSE;
        info->RootDirectory = nullptr;
        info->FileNameLength = static_cast<ULONG>(bytes);
        std::memcpy(info->FileName, target.data(), bytes);
        IO_STATUS_BLOCK status{};
        return nt.setInformation(Win32Handle(handle), &status, info, static_cast<ULONG>(buffer.size()),
                                 FileRenameInformation) == 0;
    };
    ops.stamp = [] {
        SYSTEMTIME now{};
        GetSystemTime(&now);
        char text[32];
        std::snprintf(text, sizeof(text), "%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                      now.wMinute, now.wSecond);
        return std::string(text);
    };
    ops.close = [](FolderOps::Handle handle) { CloseHandle(Win32Handle(handle)); };
    return ops;
}

std::string SecureServiceDataDir(const std::string& dir, const std::function<void(const std::string&)>& reportFailure) {
    return SecureServiceDataDir(dir, reportFailure, RealFolderOps());
}

std::string SecureServiceDataDir(const std::string& dir, const std::function<void(const std::string&)>& reportFailure,
                                 const FolderOps& ops) {
    const FolderName root{ExtendedPath(Utf8ToUtf16(dir)), dir};
    TakeOverResult result;
    if (root.name.empty()) {
        result.problem = "cannot read the full path of " + dir;
    } else {
        TakeOverPrivileges privileges;
        result = PrepareDataFolder(root, ops);
    }
    if (!result.problem.empty()) {
        // Nothing is written into a folder that is not secured: any name in it (the day's
        // audit log too) may be a link its maker planted to a file of his choosing.
        reportFailure("service data folder: " + result.problem);
        return result.problem;
    }
    SetAuditDirectory(dir);
    if (!result.movedTo.empty()) {
        WriteAuditLine("service", "service data folder: " + dir + " " + result.movedWhy + "; moved aside to " +
                                      result.movedTo, "");
    }
    if (result.removed != 0) {
        WriteAuditLine("service", "service data folder: " + std::to_string(result.removed) +
                                      " entries not written by the service removed", "");
    }
    return std::string();
}

std::string SecureServiceDataDir(const std::string& dir) { return SecureServiceDataDir(dir, WriteServiceEventLog); }

}  // namespace sv
