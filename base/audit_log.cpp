#include "base/audit_log.h"

#include <cstdio>

#include "base/annotated_mutex.h"
#include "base/text_encoding.h"

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

}  // namespace

std::string EscapeAuditField(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
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
