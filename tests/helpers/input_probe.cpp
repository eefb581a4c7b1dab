// A window that reports what input reached it, for the end-to-end input tests.
//   input_probe.exe <state-file>
// The window covers the whole virtual screen: an edit control over the top half, a
// click area below. After every change (typed text, a key, a click, a cursor move) the
// state file is replaced whole with one JSON object:
//   {"ready","screen":[w,h],"origin":[x,y],"cursor":[x,y],"text","focus",
//    "keys":[[vk,down,ctrl,shift,alt],...],"clicks":[[button,down,x,y],...]}
// Cursor and click coordinates are in virtual-screen pixels.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/json_text.h"
#include "base/text_encoding.h"
#include "wide_arguments.h"

namespace {

using nlohmann::json;

std::wstring g_statePath;
HWND g_main = nullptr;
HWND g_edit = nullptr;
WNDPROC g_editProc = nullptr;
json g_keys = json::array();
json g_clicks = json::array();
std::string g_lastWritten;
bool g_ready = false;

bool Down(int vk) { return (GetKeyState(vk) & 0x8000) != 0; }

void WriteState() {
    if (!g_ready) return;
    POINT cursor{0, 0};
    GetCursorPos(&cursor);
    int length = GetWindowTextLengthW(g_edit);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(g_edit, &text[0], length + 1);
    text.resize(static_cast<size_t>(length));
    json state = {
        {"ready", true},
        {"screen", {GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)}},
        {"origin", {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN)}},
        {"cursor", {cursor.x, cursor.y}},
        {"text", sv::Utf16ToUtf8(text)},
        {"focus", GetFocus() == g_edit},
        {"keys", g_keys},
        {"clicks", g_clicks},
    };
    std::string out = sv::SerializeJson(state);
    if (out == g_lastWritten) return;
    std::wstring tmp = g_statePath + L".tmp";
    HANDLE f = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    BOOL ok = WriteFile(f, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
    CloseHandle(f);
    if (!ok || written != out.size()) return;
    if (MoveFileExW(tmp.c_str(), g_statePath.c_str(), MOVEFILE_REPLACE_EXISTING)) g_lastWritten = out;
}

void NoteKey(UINT msg, WPARAM wp) {
    bool down = msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN;
    g_keys.push_back({static_cast<int>(wp), down, Down(VK_CONTROL), Down(VK_SHIFT), Down(VK_MENU)});
}

void NoteClick(const char* button, bool down, LPARAM lp, HWND hwnd) {
    POINT p{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
    ClientToScreen(hwnd, &p);
    g_clicks.push_back({button, down, p.x, p.y});
}

LRESULT CALLBACK EditProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
        NoteKey(msg, wp);
        break;
    default:
        break;
    }
    LRESULT r = CallWindowProcW(g_editProc, hwnd, msg, wp, lp);
    if (msg == WM_CHAR || msg == WM_KEYDOWN || msg == WM_KEYUP || msg == WM_SYSKEYDOWN || msg == WM_SYSKEYUP) {
        WriteState();
    }
    return r;
}

LRESULT CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_LBUTTONDOWN: NoteClick("left", true, lp, hwnd); WriteState(); return 0;
    case WM_LBUTTONUP: NoteClick("left", false, lp, hwnd); WriteState(); return 0;
    case WM_RBUTTONDOWN: NoteClick("right", true, lp, hwnd); WriteState(); return 0;
    case WM_RBUTTONUP: NoteClick("right", false, lp, hwnd); WriteState(); return 0;
    case WM_TIMER: WriteState(); return 0;
    case WM_COMMAND:
        if (HIWORD(wp) == EN_CHANGE) WriteState();
        return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: input_probe <state-file>\n");
        return 2;
    }
    g_statePath = WideArgument(1);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = MainProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"SvInputProbe";
    if (!RegisterClassW(&wc)) return 1;
    int x = GetSystemMetrics(SM_XVIRTUALSCREEN);
    int y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    int w = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    int h = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    g_main = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"input probe", WS_POPUP | WS_VISIBLE, x, y, w, h,
                             nullptr, nullptr, instance, nullptr);
    if (!g_main) return 1;
    g_edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_MULTILINE | ES_WANTRETURN |
                                                   ES_AUTOVSCROLL,
                             0, 0, w, h / 2, g_main, nullptr, instance, nullptr);
    if (!g_edit) return 1;
    SendMessageW(g_edit, EM_SETLIMITTEXT, 0, 0);
    g_editProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(g_edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EditProc)));
    ShowWindow(g_main, SW_SHOW);
    UpdateWindow(g_main);
    SetForegroundWindow(g_main);
    SetFocus(g_edit);
    SetTimer(g_main, 1, 25, nullptr);
    g_ready = true;
    WriteState();
    std::printf("ready\n");
    std::fflush(stdout);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
