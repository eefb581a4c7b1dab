// A small topmost window that repaints itself in alternating colours, so end-to-end
// tests have a screen that changes exactly where they say.
//   screen_painter.exe x y width height periodMs
// periodMs 0 paints once and then stays still. Prints "ready" after the first paint.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

int g_period = 0;
bool g_toggle = false;
bool g_announced = false;

LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_TIMER:
            g_toggle = !g_toggle;
            InvalidateRect(wnd, nullptr, FALSE);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(wnd, &ps);
            RECT rc;
            GetClientRect(wnd, &rc);
            HBRUSH brush = CreateSolidBrush(g_toggle ? RGB(0xF0, 0x30, 0x20) : RGB(0x20, 0x40, 0xE0));
            FillRect(dc, &rc, brush);
            DeleteObject(brush);
            EndPaint(wnd, &ps);
            if (!g_announced) {
                g_announced = true;
                std::printf("ready\n");
                std::fflush(stdout);
            }
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(wnd, msg, wp, lp);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: screen_painter x y width height periodMs\n");
        return 2;
    }
    int x = std::atoi(argv[1]), y = std::atoi(argv[2]), w = std::atoi(argv[3]), h = std::atoi(argv[4]);
    g_period = std::atoi(argv[5]);
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"SvScreenPainter";
    RegisterClassW(&wc);
    HWND wnd = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE, x, y, w,
                               h, nullptr, nullptr, wc.hInstance, nullptr);
    if (wnd == nullptr) return 1;
    if (g_period > 0) SetTimer(wnd, 1, static_cast<UINT>(g_period), nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
