#pragma once
// The installer's journal: the swaps an installation plans, written beside the program
// before the first file is moved and removed only once every file is in place. A start
// that finds it knows the installation did not complete and puts every old copy back,
// so a half-new installation never outlives the next start. Text only, no file calls.
//
//   sorvane-update-journal 1
//   old host.exe          <- an installed file, moved aside as "<name>.sv-update-old"
//   new fresh/added.txt   <- a file the installation adds; nothing to put back
//   end
#include <cstddef>
#include <string>
#include <vector>

namespace sv {

constexpr char kUpdateJournalName[] = ".sv-update-journal";
constexpr size_t kUpdateJournalMaxBytes = 1 << 20;
constexpr size_t kUpdateJournalMaxEntries = 10000;

struct JournalEntry {
    std::string name;  // a package file name ("lib/a.dll"), as the manifest lists it
    bool hadOld = false;
};

std::string FormatUpdateJournal(const std::vector<JournalEntry>& entries);

// False, with `entries` empty, for anything FormatUpdateJournal would not have written:
// another header, a missing "end" (a cut-off file), an unknown line, a name a package
// may not hold, or more than the bounds above.
bool ParseUpdateJournal(const std::string& text, std::vector<JournalEntry>& entries);

}  // namespace sv
