#include "base/audit_log.h"

#include <cstdio>

#include "base/annotated_mutex.h"
#include "base/text_encoding.h"
#include "base/utf8_text.h"

namespace sv {
namespace {

struct AuditState {
    Mutex mutex;  // also keeps two lines from interleaving in the file
    std::string directory SV_GUARDED_BY(mutex);
    std::function<std::time_t()> clock SV_GUARDED_BY(mutex);
};

AuditState& State() {
    // Never destroyed: detached work may still write a line while the process exits,
    // after function-local statics are gone.
    static AuditState* state = new AuditState;
    return *state;
}

std::tm LocalTime(std::time_t t) {
    std::tm out{};
#ifdef _WIN32
    localtime_s(&out, &t);
#else
    localtime_r(&t, &out);
#endif
    return out;
}

void AppendHex(std::string& out, const char* prefix, unsigned value, int digits) {
    static const char kDigits[] = "0123456789abcdef";
    out += prefix;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

}  // namespace

std::string EscapeAuditField(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) {
        const unsigned char b = bytes[i];
        const size_t n = Utf8SequenceLength(text, i);
        if (b == '\r') {
            out += "\\r";
        } else if (b == '\n') {
            out += "\\n";
        } else if (n == 0 || (b < 0x20 && b != '\t') || b == 0x7F) {
            // Controls steer a terminal (ESC) or break lines for some readers (VT, FF, the
            // file separators); a stray byte may be read as Latin-1, where 0x85 is NEL.
            AppendHex(out, "\\x", b, 2);
        } else if (n == 2 && b == 0xC2 && bytes[i + 1] <= 0x9F) {
            AppendHex(out, "\\u", bytes[i + 1], 4);  // a C1 control, U+0080..U+009F
        } else if (n == 3 && b == 0xE2 && bytes[i + 1] == 0x80 && (bytes[i + 2] == 0xA8 || bytes[i + 2] == 0xA9)) {
            AppendHex(out, "\\u", bytes[i + 2] == 0xA8 ? 0x2028u : 0x2029u, 4);  // line, paragraph separator
        } else {
            out.append(text, i, n);
        }
        i += n == 0 ? 1 : n;
    }
    return out;
}

std::string FormatAuditLine(const std::tm& local, const std::string& kind, const std::string& detail,
                            const std::string& actor) {
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
    std::string line = stamp;
    line += " | ";
    line += EscapeAuditField(kind);
    line += " | ";
    if (!actor.empty()) {
        line += "actor=";
        line += EscapeAuditField(actor);
        line += " | ";
    }
    line += EscapeAuditField(detail);
    line += "\n";
    return line;
}

std::string AuditFilePath(const std::string& dir, const std::tm& local) {
    char date[16];
    std::strftime(date, sizeof(date), "%Y%m%d", &local);
    return dir + "/audit-" + date + ".log";
}

void WriteAuditLine(const std::string& kind, const std::string& detail, const std::string& actor) {
    AuditState& s = State();
    MutexLock lock(s.mutex);
    if (s.directory.empty()) return;
    std::tm local = LocalTime(s.clock ? s.clock() : std::time(nullptr));
    std::string path = AuditFilePath(s.directory, local);
    std::string line = FormatAuditLine(local, kind, detail, actor);
#ifdef _WIN32
    // Paths are UTF-8 throughout the host; a narrow fopen would read them in the ANSI
    // code page and drop every line of a data directory with a non-ASCII name.
    std::FILE* f = _wfopen(Utf8ToUtf16(path).c_str(), L"ab");
#else
    std::FILE* f = std::fopen(path.c_str(), "ab");
#endif
    if (!f) return;
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
}

void SetAuditDirectory(const std::string& dir) {
    AuditState& s = State();
    MutexLock lock(s.mutex);
    s.directory = dir;
}

void SetAuditClock(std::function<std::time_t()> clock) {
    AuditState& s = State();
    MutexLock lock(s.mutex);
    s.clock = std::move(clock);
}

}  // namespace sv
