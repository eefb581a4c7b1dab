#include "session/tools/clipboard.h"

#include <windows.h>

#include <cstring>

#include "base/text_encoding.h"

namespace sv {
namespace {

// Another program may hold the clipboard for a moment (a clipboard viewer reading it).
bool OpenClipboardPatiently() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (OpenClipboard(nullptr)) return true;
        Sleep(10);
    }
    return false;
}

}  // namespace

bool SetClipboardFromUtf8(const std::string& text) {
    std::wstring wide = Utf8ToUtf16(text);
    if (!OpenClipboardPatiently()) return false;
    EmptyClipboard();
    bool ok = false;
    size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (memory) {
        void* p = GlobalLock(memory);
        if (p) {
            if (!wide.empty()) std::memcpy(p, wide.data(), wide.size() * sizeof(wchar_t));
            static_cast<wchar_t*>(p)[wide.size()] = L'\0';
            GlobalUnlock(memory);
            ok = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        }
        // The clipboard owns the memory only once it took it.
        if (!ok) GlobalFree(memory);
    }
    CloseClipboard();
    return ok;
}

bool GetClipboardUtf8(std::string& text) {
    if (!OpenClipboardPatiently()) return false;
    bool ok = false;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (data) {
        const wchar_t* p = static_cast<const wchar_t*>(GlobalLock(data));
        if (p) {
            size_t limit = GlobalSize(data) / sizeof(wchar_t);
            size_t n = 0;
            while (n < limit && p[n] != L'\0') ++n;
            text = Utf16ToUtf8(std::wstring(p, n));
            GlobalUnlock(data);
            ok = true;
        }
    }
    CloseClipboard();
    return ok;
}

}  // namespace sv
