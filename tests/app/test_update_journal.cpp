// The installer's journal as text: what is written reads back, and anything else
// (cut off, altered, naming a file outside the installation) reads as nothing.
#include "app/update_journal.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::pair<std::string, bool>> Plain(const std::vector<sv::JournalEntry>& entries) {
    std::vector<std::pair<std::string, bool>> out;
    for (const sv::JournalEntry& e : entries) out.emplace_back(e.name, e.hadOld);
    return out;
}

TEST(UpdateJournal, WhatIsWrittenReadsBack) {
    const std::vector<sv::JournalEntry> entries = {{"host.exe", true}, {"fresh/added.txt", false}, {"lib/a.dll", true}};
    const std::string text = sv::FormatUpdateJournal(entries);
    EXPECT_EQ(text, "sorvane-update-journal 1\nold host.exe\nnew fresh/added.txt\nold lib/a.dll\nend\n");
    std::vector<sv::JournalEntry> read;
    ASSERT_TRUE(sv::ParseUpdateJournal(text, read));
    EXPECT_EQ(Plain(read), Plain(entries));
    ASSERT_TRUE(sv::ParseUpdateJournal(sv::FormatUpdateJournal({}), read));
    EXPECT_TRUE(read.empty());
}

TEST(UpdateJournal, AnythingElseReadsAsNothing) {
    const std::string head = "sorvane-update-journal 1\n";
    std::string many = head;
    for (size_t i = 0; i <= sv::kUpdateJournalMaxEntries; ++i) many += "old f" + std::to_string(i) + "\n";
    many += "end\n";
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"no end", head + "old host.exe\n"},
        {"last line cut", head + "old host.exe\nen"},
        {"end without newline", head + "old host.exe\nend"},
        {"lines after end", head + "end\nold host.exe\n"},
        {"another version", "sorvane-update-journal 2\nend\n"},
        {"unknown word", head + "gone host.exe\nend\n"},
        {"empty name", head + "old \nend\n"},
        {"parent step", head + "old ../host.exe\nend\n"},
        {"absolute", head + "old /host.exe\nend\n"},
        {"drive", head + "old C:/host.exe\nend\n"},
        {"backslash", head + "old lib\\a.dll\nend\n"},
        {"carriage return", head + "old host.exe\r\nend\n"},
        {"device", head + "new nul\nend\n"},
        {"too many entries", many},
        {"too large", head + std::string(sv::kUpdateJournalMaxBytes, 'x') + "\nend\n"},
    };
    for (const auto& c : cases) {
        std::vector<sv::JournalEntry> read = {{"stale", true}};
        EXPECT_FALSE(sv::ParseUpdateJournal(c.text, read)) << c.name;
        EXPECT_TRUE(read.empty()) << c.name;
    }
}

}  // namespace
