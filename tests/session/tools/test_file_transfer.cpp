#include "session/tools/file_transfer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using sv::TransferLimits;
using sv::TransferOutcome;
using sv::TransferTable;

TEST(Base64, DecodesStandardAlphabetAndRefusesGarbage) {
    auto bytes = sv::DecodeBase64("aGVsbG8=");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "hello");
    bytes = sv::DecodeBase64("+/8=");
    ASSERT_EQ(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFB);
    EXPECT_EQ(bytes[1], 0xFF);
    EXPECT_TRUE(sv::DecodeBase64("").empty());
    EXPECT_TRUE(sv::DecodeBase64("****").empty());
    EXPECT_TRUE(sv::DecodeBase64("aGVsbG8").empty());  // missing padding
    EXPECT_TRUE(sv::DecodeBase64("a===").empty());
}

TEST(Base64, EncodeRoundTripsEveryLength) {
    for (size_t n = 0; n < 70; ++n) {
        std::vector<uint8_t> data(n);
        for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
        std::string text = sv::EncodeBase64(data.data(), data.size());
        EXPECT_EQ(text.size(), 4 * ((n + 2) / 3));
        EXPECT_EQ(sv::DecodeBase64(text), data) << n;
    }
    const uint8_t abc[] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(sv::EncodeBase64(abc, 4), "YWJjZA==");
}

std::vector<uint8_t> Bytes(size_t n, uint8_t v = 7) { return std::vector<uint8_t>(n, v); }

TEST(TransferTable, DeclaredSizeCapIsInclusive) {
    TransferTable t;
    EXPECT_EQ(t.Begin("c1", "a", "x", 104857600, 0), TransferOutcome::Ok);
    EXPECT_EQ(t.Begin("c1", "b", "x", 104857601, 0), TransferOutcome::SizeCap);
    EXPECT_EQ(t.Begin("c1", "c", "x", -1, 0), TransferOutcome::SizeCap);
    EXPECT_EQ(t.Begin("c1", "d", "x", INT64_MIN, 0), TransferOutcome::SizeCap);
    EXPECT_EQ(t.Count(), 1u);
    EXPECT_EQ(sv::TransferOutcomeText(TransferOutcome::SizeCap), "size cap");
}

TEST(TransferTable, ReceivedBytesCapErasesTheTransferAtTheCrossingChunk) {
    TransferLimits limits;
    limits.maxTransferBytes = 100;
    TransferTable t(limits);
    ASSERT_EQ(t.Begin("c", "id", "f", 0, 0), TransferOutcome::Ok);
    auto chunk = Bytes(50);
    EXPECT_EQ(t.Append("c", "id", chunk.data(), 50, 1), TransferOutcome::Ok);
    EXPECT_EQ(t.Append("c", "id", chunk.data(), 50, 2), TransferOutcome::Ok);  // exactly at the cap
    EXPECT_EQ(t.TotalBytes(), 100u);
    EXPECT_EQ(t.Append("c", "id", chunk.data(), 1, 3), TransferOutcome::ExceedsSizeCap);
    EXPECT_FALSE(t.Has("c", "id"));
    EXPECT_EQ(t.TotalBytes(), 0u);
    sv::FileTransfer out;
    EXPECT_FALSE(t.Finish("c", "id", out));
    EXPECT_EQ(t.Append("c", "id", chunk.data(), 1, 4), TransferOutcome::Ignored);
}

TEST(TransferTable, GrowthNeverReservesPastThePerTransferCap) {
    TransferLimits limits;
    limits.maxTransferBytes = 1000;
    TransferTable t(limits);
    // Declares less than it sends: the declared size cannot bound the growth.
    ASSERT_EQ(t.Begin("c", "id", "f", 10, 0), TransferOutcome::Ok);
    auto chunk = Bytes(300);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(t.Append("c", "id", chunk.data(), chunk.size(), 1), TransferOutcome::Ok);
    sv::FileTransfer out;
    ASSERT_TRUE(t.Finish("c", "id", out));
    EXPECT_EQ(out.data.size(), 900u);
    EXPECT_LE(out.data.capacity(), 1000u);
}

TEST(TransferTable, TransfersAreKeyedBySenderAndId) {
    TransferTable t;
    ASSERT_EQ(t.Begin("alice", "1", "a.txt", 3, 0), TransferOutcome::Ok);
    auto b = Bytes(3, 'b');
    // Another controller using the same id touches nothing of alice's.
    EXPECT_EQ(t.Append("bob", "1", b.data(), 3, 0), TransferOutcome::Ignored);
    sv::FileTransfer out;
    EXPECT_FALSE(t.Finish("bob", "1", out));
    ASSERT_EQ(t.Begin("bob", "1", "b.txt", 3, 0), TransferOutcome::Ok);
    auto a = Bytes(3, 'a');
    EXPECT_EQ(t.Append("alice", "1", a.data(), 3, 0), TransferOutcome::Ok);
    EXPECT_EQ(t.Append("bob", "1", b.data(), 3, 0), TransferOutcome::Ok);
    ASSERT_TRUE(t.Finish("alice", "1", out));
    EXPECT_EQ(out.name, "a.txt");
    EXPECT_EQ(out.data, a);
    ASSERT_TRUE(t.Finish("bob", "1", out));
    EXPECT_EQ(out.name, "b.txt");
    EXPECT_EQ(out.data, b);
    EXPECT_EQ(t.Count(), 0u);
}

TEST(TransferTable, NewBeginWithTheSameIdDiscardsTheOldData) {
    TransferTable t;
    ASSERT_EQ(t.Begin("c", "id", "first", 10, 0), TransferOutcome::Ok);
    auto d = Bytes(10);
    ASSERT_EQ(t.Append("c", "id", d.data(), 10, 0), TransferOutcome::Ok);
    ASSERT_EQ(t.Begin("c", "id", "second", 5, 0), TransferOutcome::Ok);
    EXPECT_EQ(t.TotalBytes(), 0u);
    sv::FileTransfer out;
    ASSERT_TRUE(t.Finish("c", "id", out));
    EXPECT_EQ(out.name, "second");
    EXPECT_EQ(out.size, 5);
    EXPECT_TRUE(out.data.empty());
}

TEST(TransferTable, NumberOfTransfersIsCapped) {
    TransferLimits limits;
    limits.maxTransfers = 3;
    TransferTable t(limits);
    EXPECT_EQ(t.Begin("c", "1", "f", 0, 0), TransferOutcome::Ok);
    EXPECT_EQ(t.Begin("c", "2", "f", 0, 0), TransferOutcome::Ok);
    EXPECT_EQ(t.Begin("d", "3", "f", 0, 0), TransferOutcome::Ok);
    EXPECT_EQ(t.Begin("d", "4", "f", 0, 0), TransferOutcome::TooMany);
    // Restarting one that exists is not a new transfer.
    EXPECT_EQ(t.Begin("c", "1", "f", 0, 0), TransferOutcome::Ok);
    sv::FileTransfer out;
    ASSERT_TRUE(t.Finish("c", "2", out));
    EXPECT_EQ(t.Begin("d", "4", "f", 0, 0), TransferOutcome::Ok);
}

TEST(TransferTable, TotalMemoryIsCappedAcrossTransfers) {
    TransferLimits limits;
    limits.maxTransferBytes = 100;
    limits.maxTotalBytes = 150;
    TransferTable t(limits);
    auto d = Bytes(80);
    ASSERT_EQ(t.Begin("a", "1", "f", 100, 0), TransferOutcome::Ok);
    ASSERT_EQ(t.Begin("b", "1", "f", 100, 0), TransferOutcome::Ok);
    EXPECT_EQ(t.Append("a", "1", d.data(), 80, 0), TransferOutcome::Ok);
    EXPECT_EQ(t.Append("b", "1", d.data(), 80, 0), TransferOutcome::MemoryFull);
    EXPECT_FALSE(t.Has("b", "1"));
    EXPECT_TRUE(t.Has("a", "1"));
    EXPECT_EQ(t.TotalBytes(), 80u);
    EXPECT_EQ(sv::TransferOutcomeText(TransferOutcome::MemoryFull), "upload memory full");
}

// The total cap counts memory reserved, not bytes held: geometric growth reserves ahead of
// the bytes, and that memory is just as much in use.
TEST(TransferTable, TotalCapCountsWhatIsReserved) {
    struct Step {
        const char* sender;
        size_t bytes;
        TransferOutcome expected;
        uint64_t totalAfter;  // reserved by every transfer together
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    // Per transfer at most 100 bytes, all together at most 150; nothing is declared, so
    // growth doubles.
    const Case cases[] = {
        {"doubling reserves ahead and counts it",
         {{"a", 40, TransferOutcome::Ok, 40}, {"a", 10, TransferOutcome::Ok, 80}, {"a", 30, TransferOutcome::Ok, 80}}},
        {"held bytes fit but reserved ones would not",
         {{"a", 40, TransferOutcome::Ok, 40}, {"a", 10, TransferOutcome::Ok, 80}, {"b", 71, TransferOutcome::MemoryFull, 80}}},
        {"growth near the total takes only what it needs",
         {{"a", 60, TransferOutcome::Ok, 60}, {"b", 60, TransferOutcome::Ok, 120}, {"a", 20, TransferOutcome::Ok, 140},
          {"a", 1, TransferOutcome::Ok, 141}, {"b", 10, TransferOutcome::MemoryFull, 81}}},
    };
    for (const Case& c : cases) {
        TransferLimits limits;
        limits.maxTransferBytes = 100;
        limits.maxTotalBytes = 150;
        TransferTable t(limits);
        ASSERT_EQ(t.Begin("a", "1", "f", 0, 0), TransferOutcome::Ok);
        ASSERT_EQ(t.Begin("b", "1", "f", 0, 0), TransferOutcome::Ok);
        for (const Step& s : c.steps) {
            auto d = Bytes(s.bytes);
            EXPECT_EQ(t.Append(s.sender, "1", d.data(), d.size(), 0), s.expected) << c.name;
            EXPECT_EQ(t.TotalBytes(), s.totalAfter) << c.name;
        }
        // What the table counted is what the buffers really hold in reserve.
        uint64_t reserved = 0;
        for (const char* sender : {"a", "b"}) {
            sv::FileTransfer out;
            if (t.Finish(sender, "1", out)) reserved += out.data.capacity();
        }
        EXPECT_EQ(reserved, c.steps.back().totalAfter) << c.name;
        EXPECT_EQ(t.TotalBytes(), 0u) << c.name;
    }
}

TEST(TransferTable, DeclaredSizeReservesNothingUpFront) {
    TransferTable t;
    ASSERT_EQ(t.Begin("c", "1", "f", 104857600, 0), TransferOutcome::Ok);
    EXPECT_EQ(t.TotalBytes(), 0u);
    auto d = Bytes(10);
    ASSERT_EQ(t.Append("c", "1", d.data(), 10, 0), TransferOutcome::Ok);
    sv::FileTransfer out;
    ASSERT_TRUE(t.Finish("c", "1", out));
    EXPECT_LT(out.data.capacity(), 1024u);
}

TEST(TransferTable, IdleTransfersAreDroppedAndActivityKeepsThemAlive) {
    TransferLimits limits;
    limits.idleMs = 1000;
    TransferTable t(limits);
    ASSERT_EQ(t.Begin("a", "1", "f", 0, 0), TransferOutcome::Ok);
    ASSERT_EQ(t.Begin("b", "2", "f", 0, 500), TransferOutcome::Ok);
    auto d = Bytes(4);
    EXPECT_TRUE(t.DropIdle(999).empty());
    ASSERT_EQ(t.Append("a", "1", d.data(), 4, 900), TransferOutcome::Ok);
    auto dropped = t.DropIdle(1500);
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_EQ(dropped[0].first, "b");
    EXPECT_EQ(dropped[0].second, "2");
    EXPECT_TRUE(t.Has("a", "1"));
    dropped = t.DropIdle(1900);
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_EQ(t.Count(), 0u);
    EXPECT_EQ(t.TotalBytes(), 0u);
}

}  // namespace
