#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "session/tools/file_transfer.h"
#include "session/relay/relay_messages.h"
#include "session/tools/remote_tool_formats.h"
#include "session/tools/tool_slots.h"

namespace {

using nlohmann::json;

TEST(TailLines, KeepsTheLastLinesWithoutTrailingBreaks) {
    EXPECT_EQ(sv::TailLines("a\nb\nc\n", 2), "b\nc");
    EXPECT_EQ(sv::TailLines("a\r\nb\r\nc\r\n\r\n", 10), "a\nb\nc");
    EXPECT_EQ(sv::TailLines("a\nb\nc", 1), "c");
    EXPECT_EQ(sv::TailLines("only", 5), "only");
    EXPECT_EQ(sv::TailLines("", 5), "");
    EXPECT_EQ(sv::TailLines("\r\n\n\r", 5), "");
}

TEST(TailLines, EmptyLinesInsideCountAndCarriageReturnsAreRemovedPerLine) {
    EXPECT_EQ(sv::TailLines("a\n\nb\n", 2), "\nb");
    EXPECT_EQ(sv::TailLines("x\r\r\ny\r", 2), "x\ny");
    EXPECT_EQ(sv::TailLines("a\rb\nc", 2), "a\rb\nc");  // a lone CR inside a line stays
}

TEST(TailLines, LineCountIsClamped) {
    EXPECT_EQ(sv::ClampTailLines(json(0)), 1);
    EXPECT_EQ(sv::ClampTailLines(json(-5)), 1);
    EXPECT_EQ(sv::ClampTailLines(json(10000)), 5000);
    EXPECT_EQ(sv::ClampTailLines(json(5000)), 5000);
    EXPECT_EQ(sv::ClampTailLines(json(1)), 1);
    EXPECT_EQ(sv::ClampTailLines(json(nullptr)), 100);
    EXPECT_EQ(sv::ClampTailLines(json("20")), 100);
    EXPECT_EQ(sv::ClampTailLines(json(18446744073709551615ULL)), 5000);
    EXPECT_EQ(sv::ClampTailLines(json(INT64_MIN)), 1);
    EXPECT_EQ(sv::ClampTailLines(json(7.9)), 7);
    EXPECT_EQ(sv::ClampTailLines(json(1e300)), 5000);
}

TEST(TailLines, TenThousandRequestedGivesAtMostFiveThousand) {
    std::string text;
    for (int i = 0; i < 6000; ++i) text += "line" + std::to_string(i) + "\n";
    std::string out = sv::TailLines(text, sv::ClampTailLines(json(10000)));
    size_t lines = 1;
    for (char c : out) lines += c == '\n';
    EXPECT_EQ(lines, 5000u);
    EXPECT_EQ(out.substr(0, 9), "line1000\n");
    EXPECT_EQ(out.substr(out.size() - 8), "line5999");
}

TEST(CappedOutput, KeepsUpToTheCapAndMarksTheCut) {
    sv::CappedOutput out(10);
    EXPECT_TRUE(out.Append("12345", 5));
    EXPECT_TRUE(out.Append("67890", 5));  // exactly the cap is not a cut
    EXPECT_FALSE(out.Truncated());
    EXPECT_EQ(out.Text(), "1234567890");
    EXPECT_FALSE(out.Append("x", 1));
    EXPECT_TRUE(out.Truncated());
    EXPECT_EQ(out.Text(), "1234567890\n[output truncated]");
    EXPECT_FALSE(out.Append("more", 4));
    EXPECT_EQ(out.Text(), "1234567890\n[output truncated]");
}

TEST(CappedOutput, ThreeHundredThousandBytesKeepTheFirst262144) {
    sv::CappedOutput out;
    std::string block(8192, 'x');
    size_t fed = 0;
    bool open = true;
    while (open && fed < 300000) {
        size_t n = std::min<size_t>(block.size(), 300000 - fed);
        open = out.Append(block.data(), n);
        fed += n;
    }
    EXPECT_FALSE(open);
    EXPECT_EQ(out.Text().size(), 262144u + std::string("\n[output truncated]").size());
    EXPECT_EQ(out.Text().substr(262144), "\n[output truncated]");
}

TEST(Utf8, ValidityFollowsTheStandard) {
    EXPECT_TRUE(sv::IsValidUtf8("plain"));
    EXPECT_TRUE(sv::IsValidUtf8("Gr\xC3\xBC\xC3\x9F" "e \xE4\xB8\xAD \xF0\x9F\x98\x80"));
    EXPECT_FALSE(sv::IsValidUtf8("caf\xE9"));
    EXPECT_FALSE(sv::IsValidUtf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(sv::IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(sv::IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(sv::IsValidUtf8("\xE4\xB8"));          // cut short
}

TEST(Utf8, InvalidBytesBecomeReplacementCharacters) {
    EXPECT_EQ(sv::ReplaceInvalidUtf8("caf\xE9!"), "caf\xEF\xBF\xBD!");
    EXPECT_EQ(sv::ReplaceInvalidUtf8("\xE4\xB8"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(sv::ReplaceInvalidUtf8("ok \xE4\xB8\xAD"), "ok \xE4\xB8\xAD");
    std::string out = sv::ReplaceInvalidUtf8("\x81\xFF");
    EXPECT_TRUE(sv::IsValidUtf8(out));
}

TEST(Chunking, A150000ByteFileTravelsInThreeChunks) {
    EXPECT_EQ(sv::ChunkCount(150000), 3u);
    EXPECT_EQ(sv::ChunkCount(0), 0u);
    EXPECT_EQ(sv::ChunkCount(1), 1u);
    EXPECT_EQ(sv::ChunkCount(65536), 1u);
    EXPECT_EQ(sv::ChunkCount(65537), 2u);
    EXPECT_EQ(sv::ChunkCount(104857600), 1600u);
    // The largest chunk stays within 87,384 characters of Base64.
    std::vector<uint8_t> chunk(sv::kFsReadChunkBytes, 0xAB);
    EXPECT_EQ(sv::EncodeBase64(chunk.data(), chunk.size()).size(), 87384u);
}

TEST(DownloadIds, CounterMakesThemUnique) {
    EXPECT_EQ(sv::MakeDownloadId(12345, 1), "12345-1");
    EXPECT_NE(sv::MakeDownloadId(12345, 1), sv::MakeDownloadId(12345, 2));
}

TEST(DirListing, StopsAtTheCap) {
    sv::DirListing listing;
    for (int i = 0; i < 6000; ++i) listing.Add("d" + std::to_string(i), true, 0, "");
    EXPECT_FALSE(listing.Add("file", false, 1, ""));
    EXPECT_EQ(listing.entries.size(), 5000u);
    EXPECT_EQ(listing.entries.back()["name"], "d4999");
}

TEST(ModifiedTime, IsZeroPadded) {
    EXPECT_EQ(sv::FormatModifiedTime(2024, 3, 7, 9, 5), "2024-03-07 09:05");
    EXPECT_EQ(sv::FormatModifiedTime(1999, 12, 31, 23, 59), "1999-12-31 23:59");
}

TEST(ToolSlots, AtMostTheCapAreTakenAndTheLastCopyGivesASlotBack) {
    sv::ToolSlots slots(2);
    sv::ToolSlots::Slot a = slots.TryTake();
    sv::ToolSlots::Slot b = slots.TryTake();
    ASSERT_TRUE(a && b);
    EXPECT_FALSE(slots.TryTake());
    EXPECT_EQ(slots.InUse(), 2u);
    sv::ToolSlots::Slot copy = a;  // the worker's copy
    a.reset();
    EXPECT_FALSE(slots.TryTake());  // still held by the copy
    copy.reset();
    EXPECT_EQ(slots.InUse(), 1u);
    EXPECT_TRUE(slots.TryTake());  // taken and given straight back
    EXPECT_EQ(slots.InUse(), 1u);
}

}  // namespace
