#include "app/update_journal.h"

#include "app/update_package.h"

namespace sv {
namespace {

const char kHeader[] = "sorvane-update-journal 1";
const char kOld[] = "old ";
const char kNew[] = "new ";
const char kEnd[] = "end";

bool StartsWith(const std::string& text, const char* prefix, size_t length) {
    return text.compare(0, length, prefix) == 0;
}

}  // namespace

std::string FormatUpdateJournal(const std::vector<JournalEntry>& entries) {
    std::string text = std::string(kHeader) + "\n";
    for (const JournalEntry& e : entries) text += (e.hadOld ? kOld : kNew) + e.name + "\n";
    return text + kEnd + "\n";
}

bool ParseUpdateJournal(const std::string& text, std::vector<JournalEntry>& entries) {
    entries.clear();
    if (text.size() > kUpdateJournalMaxBytes) return false;
    std::vector<JournalEntry> read;
    size_t at = 0;
    bool headerSeen = false, ended = false;
    while (at < text.size()) {
        const size_t newline = text.find('\n', at);
        if (newline == std::string::npos || ended) return false;  // a cut-off line, or lines after "end"
        const std::string line = text.substr(at, newline - at);
        at = newline + 1;
        if (!headerSeen) {
            if (line != kHeader) return false;
            headerSeen = true;
            continue;
        }
        if (line == kEnd) {
            ended = true;
            continue;
        }
        const bool hadOld = StartsWith(line, kOld, sizeof kOld - 1);
        if (!hadOld && !StartsWith(line, kNew, sizeof kNew - 1)) return false;
        JournalEntry entry{line.substr(sizeof kOld - 1), hadOld};
        if (entry.name.empty() || SafePackageFileName(entry.name) != entry.name || read.size() >= kUpdateJournalMaxEntries) return false;
        read.push_back(std::move(entry));
    }
    if (!ended) return false;
    entries = std::move(read);
    return true;
}

}  // namespace sv
