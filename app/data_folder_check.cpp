#include "app/data_folder_check.h"

#include <windows.h>

#include "base/file_io.h"
#include "base/text_encoding.h"

namespace sv {
namespace {

// The system's own words for an error code, without the trailing period and line end.
std::string SystemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD n = FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = (n > 0 && buffer != nullptr) ? std::wstring(buffer, n) : std::wstring();
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() && std::wstring(L"\r\n .").find(text.back()) != std::wstring::npos) text.pop_back();
    if (text.empty()) return "system error " + std::to_string(code);
    return Utf16ToUtf8(text) + " (error " + std::to_string(code) + ")";
}

const char kChooseAnother[] = "; give a folder this account can write with --data-dir";

}  // namespace

std::string DataFolderProblem(const std::string& dir) {
    if (dir.empty()) return std::string("no folder was given") + kChooseAnother;
    if (IsRegularFile(dir)) return std::string("it is a file, not a folder") + kChooseAnother;
    EnsureDirectory(dir);
    if (!IsDirectory(dir)) {
        // EnsureDirectory keeps quiet; ask once more for the system's reason.
        CreateDirectoryW(Utf8ToUtf16(dir).c_str(), nullptr);
        return "the folder cannot be made: " + SystemMessage(GetLastError()) + kChooseAnother;
    }
    const std::wstring probe = Utf8ToUtf16(JoinDataPath(dir, ".write-test-" + std::to_string(GetCurrentProcessId())));
    HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "a file cannot be made in it: " + SystemMessage(GetLastError()) + kChooseAnother;
    }
    DWORD written = 0;
    const bool wrote = WriteFile(file, "x", 1, &written, nullptr) && written == 1;
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!wrote) return "a file cannot be written in it: " + SystemMessage(error) + kChooseAnother;
    return std::string();
}

std::string DataFolderProblemLine(const std::string& dir, const std::string& reason) {
    return "cannot write the data folder " + (dir.empty() ? std::string("\"\"") : dir) + ": " + reason + "\n";
}

}  // namespace sv
