// A titled window with a button, watched by real activity monitors whose interpreters print
// what reaches them, one line each, in the order the hooks saw it, after the monitor's
// number when there are several:
//   "[<n> ]button <name> <x> <y>", "[<n> ]key <vk>"
// After "ready" it injects a left click at (5, 5) and the key F9 through SendInput, as the
// host's remote input would, and prints "injected"; the monitors must not report those.
//   activity_probe.exe "<title>" [monitors]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>
#include <mutex>
#include <string>

#include "base/text_encoding.h"
#include "training/win32/activity_monitor.h"

namespace {

std::mutex g_printMutex;

void Line(const std::string& text) {
    std::lock_guard<std::mutex> lock(g_printMutex);
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void InjectClickAndKey() {
    INPUT in[4] = {};
    in[0].type = INPUT_MOUSE;
    in[0].mi.dx = 5 * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    in[0].mi.dy = 5 * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTDOWN;
    in[1].type = INPUT_MOUSE;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    in[2].type = INPUT_KEYBOARD;
    in[2].ki.wVk = VK_F9;
    in[3].type = INPUT_KEYBOARD;
    in[3].ki.wVk = VK_F9;
    in[3].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(4, in, sizeof(INPUT));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const int count = argc > 2 ? std::atoi(argv[2]) : 1;
    std::vector<std::unique_ptr<sv::training::IActivitySource>> monitors;
    for (int i = 1; i <= count; ++i) {
        const std::string prefix = count > 1 ? std::to_string(i) + " " : "";
        sv::training::ActivityInterpreter interpreter;
        interpreter.buttonDown = [prefix](const std::string& button, int32_t x, int32_t y, int64_t) {
            Line(prefix + "button " + button + " " + std::to_string(x) + " " + std::to_string(y));
            return std::vector<sv::training::Activity>{};
        };
        interpreter.keyDown = [prefix](uint32_t vk, bool, bool, bool, int64_t) {
            Line(prefix + "key " + std::to_string(vk));
            return std::vector<sv::training::Activity>{};
        };
        monitors.push_back(sv::training::MakeActivityMonitor(interpreter));
        monitors.back()->Start();
    }

    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"SvActivityProbe";
    RegisterClassW(&wc);
    HWND wnd = CreateWindowExW(0, wc.lpszClassName, sv::Utf8ToUtf16(argv[1]).c_str(),
                               WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400, 300, nullptr, nullptr, wc.hInstance,
                               nullptr);
    CreateWindowExW(0, L"BUTTON", L"Simpan", WS_CHILD | WS_VISIBLE, 20, 20, 120, 30, wnd, nullptr, wc.hInstance,
                    nullptr);
    if (wnd == nullptr) return 1;
    SetForegroundWindow(wnd);
    Line("ready");
    InjectClickAndKey();
    Line("injected");

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
