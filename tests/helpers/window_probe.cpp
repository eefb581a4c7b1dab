// Looks at and pokes the host window (class "SorvaneHostWin7") for end-to-end tests.
//   window_probe.exe find                  -> "found <visible> <client w> <client h> <title hex>" or "none"
//   window_probe.exe post <msg> <wp> <lp>  -> posts a message to it
//   window_probe.exe click <x> <y>         -> a left click (button up) at a client point
//   window_probe.exe dark <x> <y> <w> <h>  -> how many pixels of that client area are dark
//   window_probe.exe shot <file.bmp>       -> the client area as a 24-bit bitmap file
//   window_probe.exe focus <class>         -> the class of the focused window on the thread
//                                             of the top-level window of <class>, or "none"
//   window_probe.exe box                   -> "box <title hex> <text hex>" of a message box whose
//                                             title starts with "Sorvane", or "none"
//   window_probe.exe box-ok                -> presses that box's OK
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/bitmap_info.h"
#include "base/text_encoding.h"
#include "wide_arguments.h"

namespace {

HWND Find() { return FindWindowW(L"SorvaneHostWin7", nullptr); }

std::wstring TextOf(HWND hwnd) {
    wchar_t text[2048] = {};
    GetWindowTextW(hwnd, text, 2048);
    return text;
}

void PrintHex(const std::wstring& text) {
    for (unsigned char c : sv::Utf16ToUtf8(text)) std::printf("%02x", c);
}

// A message box is a dialog ("#32770") of the program's own; its text is the longest
// static control in it (the icon is one without text).
BOOL CALLBACK FindBox(HWND hwnd, LPARAM found) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    if (std::wstring(name) == L"#32770" && TextOf(hwnd).rfind(L"Sorvane", 0) == 0) {
        *reinterpret_cast<HWND*>(found) = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK LongestStatic(HWND hwnd, LPARAM longest) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    std::wstring& best = *reinterpret_cast<std::wstring*>(longest);
    if (_wcsicmp(name, L"Static") == 0 && TextOf(hwnd).size() > best.size()) best = TextOf(hwnd);
    return TRUE;
}

// The client area's pixels (top-down BGRA) from the screen.
bool Capture(HWND hwnd, int& w, int& h, std::vector<unsigned char>& pixels) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    w = rc.right;
    h = rc.bottom;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info = sv::TopDown32BitInfo(w, h);
    pixels.assign(static_cast<size_t>(w) * h * 4, 0);
    const int lines = GetDIBits(memory, bitmap, 0, h, pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return lines == h;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string mode = argv[1];
    if (mode == "focus" && argc >= 3) {
        HWND top = FindWindowW(sv::Utf8ToUtf16(argv[2]).c_str(), nullptr);
        GUITHREADINFO gui = {};
        gui.cbSize = sizeof(gui);
        wchar_t name[64] = {};
        if (top == nullptr || !GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &gui) ||
            gui.hwndFocus == nullptr || GetClassNameW(gui.hwndFocus, name, 64) == 0) {
            std::printf("none\n");
            return 0;
        }
        std::printf("%s\n", sv::Utf16ToUtf8(name).c_str());
        return 0;
    }
    if (mode == "box" || mode == "box-ok") {
        HWND box = nullptr;
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&box));
        if (box == nullptr) {
            std::printf("none\n");
            return mode == "box" ? 0 : 3;
        }
        if (mode == "box-ok") return PostMessageW(box, WM_COMMAND, IDOK, 0) ? 0 : 1;
        std::wstring text;
        EnumChildWindows(box, LongestStatic, reinterpret_cast<LPARAM>(&text));
        std::printf("box ");
        PrintHex(TextOf(box));
        std::printf(" ");
        PrintHex(text);
        std::printf("\n");
        return 0;
    }
    HWND hwnd = Find();
    if (mode == "find") {
        if (hwnd == nullptr) {
            std::printf("none\n");
            return 0;
        }
        RECT rc;
        GetClientRect(hwnd, &rc);
        wchar_t title[256] = {};
        GetWindowTextW(hwnd, title, 256);
        std::string text = sv::Utf16ToUtf8(title);
        std::printf("found %d %ld %ld ", IsWindowVisible(hwnd) ? 1 : 0, rc.right, rc.bottom);
        for (unsigned char c : text) std::printf("%02x", c);
        std::printf("\n");
        return 0;
    }
    if (hwnd == nullptr) return 3;
    if (mode == "post" && argc >= 5) {
        return PostMessageW(hwnd, static_cast<UINT>(std::atoi(argv[2])), static_cast<WPARAM>(std::atoll(argv[3])),
                            static_cast<LPARAM>(std::atoll(argv[4])))
                   ? 0
                   : 1;
    }
    if (mode == "click" && argc >= 4) {
        return PostMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(std::atoi(argv[2]), std::atoi(argv[3]))) ? 0 : 1;
    }
    int w = 0, h = 0;
    std::vector<unsigned char> pixels;
    if (mode == "dark" && argc >= 6) {
        if (!Capture(hwnd, w, h, pixels)) return 1;
        const int x0 = std::atoi(argv[2]), y0 = std::atoi(argv[3]), cw = std::atoi(argv[4]), ch = std::atoi(argv[5]);
        int dark = 0;
        for (int y = y0; y < y0 + ch && y < h; ++y) {
            for (int x = x0; x < x0 + cw && x < w; ++x) {
                const unsigned char* p = &pixels[(static_cast<size_t>(y) * w + x) * 4];
                if (p[0] + p[1] + p[2] < 3 * 0x80) ++dark;
            }
        }
        std::printf("%d\n", dark);
        return 0;
    }
    if (mode == "shot" && argc >= 3) {
        if (!Capture(hwnd, w, h, pixels)) return 1;
        const int stride = (w * 3 + 3) & ~3;
        BITMAPFILEHEADER file = {};
        BITMAPINFOHEADER head = {};
        head.biSize = sizeof(head);
        head.biWidth = w;
        head.biHeight = -h;
        head.biPlanes = 1;
        head.biBitCount = 24;
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof(file) + sizeof(head);
        file.bfSize = file.bfOffBits + static_cast<DWORD>(stride) * h;
        std::FILE* out = _wfopen(WideArgument(2).c_str(), L"wb");
        if (out == nullptr) return 1;
        std::fwrite(&file, sizeof(file), 1, out);
        std::fwrite(&head, sizeof(head), 1, out);
        std::vector<unsigned char> line(static_cast<size_t>(stride), 0);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                for (int c = 0; c < 3; ++c) line[x * 3 + c] = pixels[(static_cast<size_t>(y) * w + x) * 4 + c];
            }
            std::fwrite(line.data(), 1, line.size(), out);
        }
        std::fclose(out);
        return 0;
    }
    return 2;
}
