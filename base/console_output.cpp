#include "base/console_output.h"

#include <windows.h>
#include <io.h>

#include <algorithm>

#include "base/annotated_mutex.h"
#include "base/text_encoding.h"

namespace sv {
namespace {

// Guards no state of ours: it keeps one text's writes from interleaving with another's.
Mutex& OutputMutex() {
    static Mutex* mutex = new Mutex;  // detached threads may print during exit
    return *mutex;
}

HANDLE ConsoleBehind(std::FILE* stream) {
    const int fd = _fileno(stream);
    if (fd < 0) return nullptr;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return nullptr;
    return handle;
}

// False when the console took nothing at all.
bool WriteWide(HANDLE console, const std::wstring& text) {
    constexpr size_t kChunk = 8192;  // large writes to a console may be cut short
    size_t done = 0;
    while (done < text.size()) {
        size_t count = std::min(kChunk, text.size() - done);
        // Never split a surrogate pair across two writes.
        if (count < text.size() - done && text[done + count - 1] >= 0xD800 && text[done + count - 1] <= 0xDBFF) {
            --count;
        }
        DWORD written = 0;
        if (!WriteConsoleW(console, text.data() + done, static_cast<DWORD>(count), &written, nullptr) ||
            written == 0) {
            return done > 0;
        }
        done += written;
    }
    return true;
}

}  // namespace

void PrintText(std::FILE* stream, const std::string& text) {
    if (stream == nullptr) return;
    MutexLock lock(OutputMutex());
    std::fflush(stream);  // whatever went through the C stream before stays in order
    HANDLE console = ConsoleBehind(stream);
    // A handle that claimed to be a console but took nothing gets the bytes instead.
    if (console != nullptr && WriteWide(console, Utf8ToUtf16(text))) return;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace sv
