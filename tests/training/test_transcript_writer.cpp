#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>

#include "test_support.h"
#include "training/transcript_writer.h"

namespace {

using nlohmann::json;
using namespace sv::training;
namespace fs = std::filesystem;

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(fs::u8path(path), std::ios::binary);
    out << bytes;
}

TEST(SessionId, FormatAndRandomSuffix) {
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 7;
    t.tm_min = 8;
    t.tm_sec = 9;
    EXPECT_EQ(FormatSessionId(t, 0xABCDEF12u), "20240305-070809-cdef12");
    EXPECT_EQ(FormatSessionId(t, 0x5u), "20240305-070809-000005");
}

TEST(SessionId, TwoIdsInOneSecondShareTheStampAndDifferInTheSuffix) {
    std::regex shape("^[0-9]{8}-[0-9]{6}-[0-9a-f]{6}$");
    std::string a = NewSessionId(1700000000000);
    std::string b = NewSessionId(1700000000000);
    EXPECT_TRUE(std::regex_match(a, shape)) << a;
    EXPECT_TRUE(std::regex_match(b, shape)) << b;
    EXPECT_EQ(a.substr(0, 15), b.substr(0, 15));
    // 24 random bits: a collision here would be a broken random source.
    EXPECT_NE(a.substr(16), b.substr(16));
}

TEST(SessionId, SafeNames) {
    EXPECT_TRUE(IsSafeSessionId("20240305-070809-cdef12"));
    EXPECT_TRUE(IsSafeSessionId("a"));
    EXPECT_FALSE(IsSafeSessionId(""));
    EXPECT_FALSE(IsSafeSessionId("../x"));
    EXPECT_FALSE(IsSafeSessionId("..\\x"));
    EXPECT_FALSE(IsSafeSessionId("a.b"));
    EXPECT_FALSE(IsSafeSessionId("a b"));
    EXPECT_FALSE(IsSafeSessionId("C:x"));
    EXPECT_FALSE(IsSafeSessionId(std::string(65, 'a')));
    for (const char* dev : {"CON", "con", "Nul", "PRN", "aux", "COM1", "com9", "LPT1", "lpt0", "CLOCK"}) {
        EXPECT_FALSE(IsSafeSessionId(dev)) << dev;
    }
    EXPECT_TRUE(IsSafeSessionId("COM10"));
    EXPECT_TRUE(IsSafeSessionId("CONSOLE"));
}

TEST(TranscriptWriterTest, WritesCompactSortedLinesEndedByCrLf) {
    sv_test::ScratchDir dir;
    std::atomic<int64_t> now{1700000000000};
    std::string tdir = dir.Path() + "/training/nested";
    TranscriptWriter w("20240305-070809-cdef12", tdir, [&] { return now.fetch_add(5); });
    ASSERT_FALSE(w.FilePath().empty());
    w.Append("start", json{{"title", "Sesi"}, {"mode", "demo"}});
    w.Append("end", nullptr);
    w.Append("chat", json{{"text", std::string("bad \xFF")}});
    std::string text = sv_test::ReadFile(tdir + "/20240305-070809-cdef12.jsonl");
    EXPECT_EQ(text,
              "{\"data\":{\"mode\":\"demo\",\"title\":\"Sesi\"},\"kind\":\"start\",\"ts\":1700000000000}\r\n"
              "{\"kind\":\"end\",\"ts\":1700000000005}\r\n"
              "{\"data\":{\"text\":\"bad \xEF\xBF\xBD\"},\"kind\":\"chat\",\"ts\":1700000000010}\r\n");
    auto entries = w.Entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_FALSE(entries[1].contains("data"));
    EXPECT_EQ(entries[0]["kind"], "start");
}

TEST(TranscriptWriterTest, NoDirectoryMeansMemoryOnlyAndTheCopyIsBounded) {
    TranscriptWriter w("abc", "", [] { return int64_t(1); });
    EXPECT_TRUE(w.FilePath().empty());
    for (int i = 0; i < 5003; ++i) w.Append("e", json{{"i", i}});
    auto entries = w.Entries();
    ASSERT_EQ(entries.size(), 5000u);
    EXPECT_EQ(entries.back()["data"]["i"], 4999);
}

TEST(TranscriptWriterTest, DirectoryBlockedByAFileGivesNoFile) {
    sv_test::ScratchDir dir;
    std::string blocker = dir.Path() + "/training";
    WriteFileBytes(blocker, "x");
    TranscriptWriter w("abc", blocker, [] { return int64_t(1); });
    EXPECT_TRUE(w.FilePath().empty());
    w.Append("start", nullptr);
    EXPECT_EQ(w.Entries().size(), 1u);
}

TEST(TranscriptWriterTest, DeviceNamesNeverBecomeFiles) {
    sv_test::ScratchDir dir;
    TranscriptWriter w("CON", dir.Path(), [] { return int64_t(1); });
    EXPECT_TRUE(w.FilePath().empty());
}

TEST(TranscriptReading, SkipsBadLinesAndKeepsALastLineWithoutBreak) {
    sv_test::ScratchDir dir;
    WriteFileBytes(dir.Path() + "/s1.jsonl",
                   "{\"kind\":\"start\",\"ts\":1}\r\n"
                   "not json\r\n"
                   "\r\n"
                   "\n"
                   "{\"kind\":\"mode\",\"ts\":2}\n"
                   "{\"kind\":\"end\",\"ts\":3}");
    auto lines = ReadTranscript(dir.Path(), "s1");
    ASSERT_TRUE(lines);
    ASSERT_EQ(lines->size(), 3u);
    EXPECT_EQ((*lines)[0]["kind"], "start");
    EXPECT_EQ((*lines)[1]["kind"], "mode");
    EXPECT_EQ((*lines)[2]["kind"], "end");
}

TEST(TranscriptReading, RefusesIdsOutsideTheDirectory) {
    sv_test::ScratchDir dir;
    fs::create_directories(fs::u8path(dir.Path() + "/training"));
    WriteFileBytes(dir.Path() + "/secret.jsonl", "{\"kind\":\"x\"}\r\n");
    EXPECT_FALSE(ReadTranscript(dir.Path() + "/training", "../secret"));
    EXPECT_FALSE(ReadTranscript(dir.Path() + "/training", "..\\secret"));
    EXPECT_FALSE(ReadTranscript(dir.Path() + "/training", "missing"));
    EXPECT_FALSE(ReadTranscript(dir.Path() + "/training", "nul"));
    EXPECT_FALSE(ReadTranscript("", "secret"));
    EXPECT_TRUE(ReadTranscript(dir.Path(), "secret"));
}

TEST(TranscriptReading, AFileWithoutValidLinesIsAnEmptyList) {
    sv_test::ScratchDir dir;
    WriteFileBytes(dir.Path() + "/e.jsonl", "garbage\r\n");
    auto lines = ReadTranscript(dir.Path(), "e");
    ASSERT_TRUE(lines);
    EXPECT_TRUE(lines->empty());
}

TEST(TranscriptListing, NewestFirstAndBounded) {
    sv_test::ScratchDir dir;
    auto base = fs::file_time_type::clock::now() - std::chrono::hours(100);
    for (int i = 0; i < 25; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "s%02d", i);
        std::string path = dir.Path() + "/" + name + ".jsonl";
        WriteFileBytes(path, std::string(static_cast<size_t>(i + 1), 'x'));
        // Written in one order, dated in another: s06 newest, then s05, ...
        fs::last_write_time(fs::u8path(path), base + std::chrono::minutes((i + 18) % 25));
    }
    WriteFileBytes(dir.Path() + "/notes.txt", "x");
    WriteFileBytes(dir.Path() + "/old.jsonl.bak", "x");
    fs::create_directories(fs::u8path(dir.Path() + "/sub.jsonl"));
    auto list = ListTranscripts(dir.Path(), 20);
    ASSERT_EQ(list.size(), 20u);
    EXPECT_EQ(list[0].sessionId, "s06");
    EXPECT_EQ(list[0].bytes, 7u);
    EXPECT_EQ(list[1].sessionId, "s05");
    for (size_t i = 1; i < list.size(); ++i) EXPECT_GT(list[i - 1].updatedNs, list[i].updatedNs);
    std::regex stamp("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$");
    EXPECT_TRUE(std::regex_match(list[0].updated, stamp)) << list[0].updated;
    EXPECT_EQ(ListTranscripts(dir.Path(), 1).size(), 1u);
    EXPECT_TRUE(ListTranscripts(dir.Path() + "/missing", 20).empty());
    EXPECT_TRUE(ListTranscripts("", 20).empty());
}

TEST(TranscriptListing, UpdatedIsTheWriteTimeInUtc) {
    sv_test::ScratchDir dir;
    std::string path = dir.Path() + "/t.jsonl";
    WriteFileBytes(path, "{}");
    auto list = ListTranscripts(dir.Path(), 20);
    ASSERT_EQ(list.size(), 1u);
    std::time_t t = std::time(nullptr);
    std::tm utc{};
    gmtime_s(&utc, &t);
    char now[32];
    std::strftime(now, sizeof(now), "%Y-%m-%dT%H:", &utc);
    // Written a moment ago: same date and hour (unless the hour turned just now).
    std::time_t t2 = std::time(nullptr);
    if (t2 / 3600 == t / 3600) {
        EXPECT_EQ(list[0].updated.substr(0, 14), std::string(now));
    }
}

}  // namespace
