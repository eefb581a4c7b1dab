#pragma once
// The host's one log: a text file per local day in the data directory.
#include <ctime>
#include <functional>
#include <string>

namespace sv {

void WriteAuditLine(const std::string& kind, const std::string& detail, const std::string& actor);

// The folder is a process-wide setting on purpose: it is set once, when the data folder is
// known, and lines come from every layer and thread (detached ones too, up to the process's
// exit), none of which could be handed a log object without threading it through every
// call. An empty folder writes nothing (before it is set, and in tests).
void SetAuditDirectory(const std::string& dir);

// Pieces of WriteAuditLine, kept apart so the format can be checked without files.
// Details and actors often come from a remote controller: a raw line break would let it
// forge entries, a control sequence would steer the terminal of whoever reads the log. CR
// and LF are written as the two characters "\r" and "\n"; the other C0 controls but tab,
// DEL and every byte that is not part of well-formed UTF-8 as "\xNN"; the C1 controls and
// U+2028/U+2029 (line breaks to some readers) as "\uNNNN". The rest is written unchanged.
std::string EscapeAuditField(const std::string& text);
std::string FormatAuditLine(const std::tm& local, const std::string& kind, const std::string& detail,
                            const std::string& actor);
std::string AuditFilePath(const std::string& dir, const std::tm& local);

// Replaces the wall clock (seconds since the epoch); an empty function restores time().
// Process-wide with the folder, for the same reason; only tests set it.
void SetAuditClock(std::function<std::time_t()> clock);

}  // namespace sv
