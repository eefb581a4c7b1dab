// A small topmost window that repaints itself in alternating colours, so end-to-end
// tests have a screen that changes exactly where they say.
//   screen_painter.exe x y width height periodMs [desktop]
// periodMs 0 paints once and then stays still. Prints "ready" after the first paint.
// With "desktop" the window shows a desktop-like picture (panels, gradients, lines of
// "text") instead, scrolled up by a text line every period when periodMs is not 0.
#include <windows.h>

#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/bitmap_info.h"

namespace {

int g_period = 0;
bool g_toggle = false;
bool g_announced = false;
bool g_desktop = false;
int g_scroll = 0;
HDC g_picture = nullptr;
int g_pictureHeight = 0;

constexpr int kLine = 18;

// Drawn once into memory: flat panels with dense text rows, a title bar, a gradient.
void MakePicture(HDC screen, int w, int h) {
    BITMAPINFO info = sv::TopDown32BitInfo(w, h);
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dib == nullptr) return;
    g_picture = CreateCompatibleDC(screen);
    SelectObject(g_picture, dib);
    g_pictureHeight = h;
    uint32_t state = 2463534242u;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = static_cast<uint8_t*>(bits) + static_cast<size_t>(y) * w * 4;
        for (int x = 0; x < w; ++x) {
            uint8_t* p = row + static_cast<size_t>(x) * 4;
            const bool panel = x > w / 5 && (x / 480 + y / 360) % 3 != 2;
            const bool text = panel && (y % kLine) < 12 && (x % 420) > 20 && (x % 420) < 380;
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            if (y % 360 < 28 && panel) {
                p[0] = 0xB0, p[1] = 0x70, p[2] = 0x30;  // title bar
            } else if (text && (state & 3) == 0) {
                p[0] = p[1] = p[2] = 30;
            } else if (panel) {
                p[0] = 250, p[1] = 248, p[2] = 246;
            } else {
                p[0] = static_cast<uint8_t>(120 + y * 100 / h);
                p[1] = static_cast<uint8_t>(60 + x * 60 / w);
                p[2] = 40;
            }
            p[3] = 0;
        }
    }
}

void PaintDesktop(HDC dc, int w, int h) {
    if (g_picture == nullptr) MakePicture(dc, w, h);
    if (g_picture == nullptr) return;
    const int top = g_scroll % g_pictureHeight;
    BitBlt(dc, 0, 0, w, g_pictureHeight - top, g_picture, 0, top, SRCCOPY);
    if (top > 0) BitBlt(dc, 0, g_pictureHeight - top, w, top, g_picture, 0, 0, SRCCOPY);
}

LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_TIMER:
            g_toggle = !g_toggle;
            g_scroll += kLine;
            InvalidateRect(wnd, nullptr, FALSE);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(wnd, &ps);
            RECT rc;
            GetClientRect(wnd, &rc);
            if (g_desktop) {
                PaintDesktop(dc, rc.right, rc.bottom);
            } else {
                HBRUSH brush = CreateSolidBrush(g_toggle ? RGB(0xF0, 0x30, 0x20) : RGB(0x20, 0x40, 0xE0));
                FillRect(dc, &rc, brush);
                DeleteObject(brush);
            }
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
        std::fprintf(stderr, "usage: screen_painter x y width height periodMs [desktop]\n");
        return 2;
    }
    int x = std::atoi(argv[1]), y = std::atoi(argv[2]), w = std::atoi(argv[3]), h = std::atoi(argv[4]);
    g_period = std::atoi(argv[5]);
    g_desktop = argc > 6 && std::strcmp(argv[6], "desktop") == 0;
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
