#include "training/win32/window_info.h"

#include <windows.h>

#include "base/text_encoding.h"
#include "training/win32/window_naming.h"

namespace sv {
namespace training {

namespace {

// The stored caption, read without sending a message: a window of this process whose
// thread is busy (or is the caller, waiting on a query) would otherwise hold the reader.
std::wstring WindowTextOf(HWND hwnd) {
    wchar_t buffer[512];
    int n = InternalGetWindowText(hwnd, buffer, 512);
    if (n <= 0) return std::wstring();
    return std::wstring(buffer, static_cast<size_t>(n));
}

std::wstring LowerCase(std::wstring text) {
    if (!text.empty()) CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

struct TitleSearch {
    std::wstring needle;
    std::vector<WindowInfo> found;
};

BOOL CALLBACK MatchWindowTitle(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<TitleSearch*>(param);
    if (!IsWindowVisible(hwnd)) return TRUE;
    std::wstring title = WindowTextOf(hwnd);
    if (title.empty()) return TRUE;
    if (LowerCase(title).find(search->needle) == std::wstring::npos) return TRUE;
    if (std::optional<WindowInfo> info = DescribeWindow(FromHwnd(hwnd))) search->found.push_back(*info);
    return TRUE;
}

}  // namespace

std::optional<WindowInfo> DescribeWindow(uint64_t value) {
    HWND hwnd = ToHwnd(value);
    if (hwnd == nullptr || !IsWindow(hwnd)) return std::nullopt;
    WindowInfo info;
    info.hwnd = value;
    info.title = Utf16ToUtf8(WindowTextOf(hwnd));
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    info.processId = pid;
    info.process = GetProcessImageName(pid);
    info.className = GetWindowClassName(value);
    RECT r{};
    if (GetWindowRect(hwnd, &r)) {
        info.rect = Box{r.left, r.top, r.right - r.left, r.bottom - r.top};
    }
    info.owner = FromHwnd(GetWindow(hwnd, GW_OWNER));
    return info;
}

std::optional<WindowInfo> ForegroundWindowInfo() { return DescribeWindow(FromHwnd(GetForegroundWindow())); }

std::vector<WindowInfo> FindWindowByTitle(const std::string& text) {
    TitleSearch search;
    search.needle = LowerCase(Utf8ToUtf16(text));
    EnumWindows(MatchWindowTitle, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string GetWindowClassName(uint64_t hwnd) {
    wchar_t buffer[256];
    int n = GetClassNameW(ToHwnd(hwnd), buffer, 256);
    if (n <= 0) return std::string();
    return Utf16ToUtf8(std::wstring(buffer, static_cast<size_t>(n)));
}

std::string GetProcessImageName(uint32_t processId) {
    HANDLE process = OpenProcess(0x1000 /* PROCESS_QUERY_LIMITED_INFORMATION */, FALSE, processId);
    if (process == nullptr) return std::string();
    std::string name;
    wchar_t buffer[520];
    DWORD size = 520;
    if (QueryFullProcessImageNameW(process, 0, buffer, &size)) {
        name = ImageNameFromPath(Utf16ToUtf8(std::wstring(buffer, size)));
    }
    CloseHandle(process);
    return name;
}

bool ContainsNoCase(const std::string& text, const std::string& needle) {
    if (needle.empty()) return false;
    return LowerCase(Utf8ToUtf16(text)).find(LowerCase(Utf8ToUtf16(needle))) != std::wstring::npos;
}

}  // namespace training
}  // namespace sv
