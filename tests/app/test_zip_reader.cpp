#include "app/zip_reader.h"

#include <gtest/gtest.h>

#include <functional>

#include "app/update_test_support.h"

namespace {

using sv_test::Bytes;
using sv_test::ZipBuilder;

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Opens `archive` and extracts every entry; the joined contents, or "!" + the error.
std::string ReadAll(const std::vector<uint8_t>& archive, uint64_t budget = 1 << 20) {
    sv::ZipReader zip(archive.data(), archive.size(), budget);
    std::string error;
    if (!zip.Open(error)) return "!" + error;
    std::string joined;
    for (const sv::ZipEntry& entry : zip.Entries()) {
        std::vector<uint8_t> data;
        if (!zip.Extract(entry, data, error)) return "!" + error;
        joined += entry.name + "=" + Text(data) + ";";
    }
    return joined;
}

TEST(ZipReader, StoredAndDeflatedEntriesComeBackWhole) {
    ZipBuilder zip;
    zip.Add("plain.txt", "stored bytes");
    zip.Add("dir/", "");
    zip.Add("packed.txt", std::string(5000, 'z') + "end", true);
    zip.Add("empty-deflated", "", true);
    zip.Add("empty", "");
    EXPECT_EQ(ReadAll(zip.Build()),
              "plain.txt=stored bytes;dir/=;packed.txt=" + std::string(5000, 'z') + "end;empty-deflated=;empty=;");

    std::vector<uint8_t> archive = zip.Build();
    sv::ZipReader reader(archive.data(), archive.size(), 1 << 20);
    std::string error;
    ASSERT_TRUE(reader.Open(error));
    EXPECT_TRUE(reader.Entries()[1].isDirectory);
    EXPECT_FALSE(reader.Entries()[0].isDirectory);
}

TEST(ZipReader, AnArchiveCommentIsSkipped) {
    ZipBuilder zip;
    zip.Add("a", "x");
    std::vector<uint8_t> archive = zip.Build();
    // A comment that itself holds an end-of-directory signature must not be taken.
    const std::string comment = std::string("PK\x05\x06", 4) + std::string(30, 'c');
    archive[archive.size() - 2] = static_cast<uint8_t>(comment.size());
    archive.insert(archive.end(), comment.begin(), comment.end());
    EXPECT_EQ(ReadAll(archive), "a=x;");
}

struct Damage {
    const char* name;
    std::function<void(ZipBuilder&)> build;                   // entries, possibly lying
    std::function<void(std::vector<uint8_t>&)> afterwards;  // raw damage, may be empty
    const char* error;
};

TEST(ZipReader, HostileArchivesAreRefused) {
    const std::string big(200000, 'b');
    const Damage cases[] = {
        {"empty buffer", [](ZipBuilder&) {}, [](std::vector<uint8_t>& a) { a.clear(); }, "too short for an archive"},
        {"no end record", [](ZipBuilder& z) { z.Add("a", "x"); },
         [](std::vector<uint8_t>& a) { a.resize(a.size() - 22); }, "no end of central directory"},
        {"cut inside the data", [](ZipBuilder& z) { z.Add("a", std::string(100, 'x'), true); },
         [](std::vector<uint8_t>& a) { a.erase(a.begin() + 40, a.begin() + 50); },
         "central directory outside the archive"},
        {"directory offset past the end", [](ZipBuilder& z) { z.Add("a", "x"); },
         [](std::vector<uint8_t>& a) { a[a.size() - 6] = 0xF0; }, "central directory outside the archive"},
        {"more entries than records", [](ZipBuilder& z) { z.Add("a", "x"); },
         [](std::vector<uint8_t>& a) { a[a.size() - 12] = 2; a[a.size() - 14] = 2; }, "bad central directory record"},
        {"name runs past the directory", [](ZipBuilder& z) { z.Add("a", "x"); },
         [](std::vector<uint8_t>& a) { a[a.size() - 22 - 47 + 28] = 0x40; },
         "central directory record runs past its end"},
        {"local header offset past the end", [](ZipBuilder& z) { z.Add("a", "x"); },
         [](std::vector<uint8_t>& a) { a[a.size() - 22 - 47 + 45] = 0x70; }, "bad local header"},
        {"compressed size past the end", [](ZipBuilder& z) { z.Add("a", "x").compressedSize = 0x7FFFFFF0; }, nullptr,
         "entry data outside the archive"},
        {"stored entry with two sizes", [](ZipBuilder& z) { z.Add("a", "xyz").uncompressedSize = 2; }, nullptr,
         "stored entry with two sizes"},
        {"deflated entry larger than stated", [&](ZipBuilder& z) { z.Add("a", big, true).uncompressedSize = 1000; },
         nullptr, "entry inflates beyond its stated size"},
        {"deflated entry smaller than stated", [](ZipBuilder& z) { z.Add("a", "short", true).uncompressedSize = 9; },
         nullptr, "entry inflates to another size than stated"},
        {"truncated deflate stream",
         [](ZipBuilder& z) {
             auto& item = z.Add("a", std::string(3000, 'q') + "tail", true);
             item.data.resize(item.data.size() / 2);
             item.compressedSize = static_cast<uint32_t>(item.data.size());
         },
         nullptr, "corrupt or truncated deflate data"},
        {"wrong CRC", [](ZipBuilder& z) { z.Add("a", "x").crc ^= 1; }, nullptr, "CRC mismatch"},
        {"unknown method", [](ZipBuilder& z) { z.Add("a", "x").method = 12; }, nullptr,
         "unsupported compression method"},
        {"ZIP64 marker", [](ZipBuilder& z) { z.Add("a", "x").uncompressedSize = 0xFFFFFFFFu; }, nullptr,
         "ZIP64 entry"},
    };
    for (const Damage& c : cases) {
        ZipBuilder zip;
        c.build(zip);
        std::vector<uint8_t> archive = zip.Build();
        if (c.afterwards) c.afterwards(archive);
        EXPECT_EQ(ReadAll(archive), std::string("!") + c.error) << c.name;
    }
}

TEST(ZipReader, InflatingStopsAtTheBudget) {
    // 64 MiB of zeros deflate to about 64 KiB: a bomb, honest about its size...
    const std::vector<uint8_t> zeros(64u << 20, 0);
    ZipBuilder honest;
    honest.Add("bomb", zeros, true);
    EXPECT_EQ(ReadAll(honest.Build(), 16u << 20), "!archive inflates beyond its limit");

    // ...or spread over entries that each fit, together not.
    ZipBuilder spread;
    for (int i = 0; i < 5; ++i) spread.Add("part" + std::to_string(i), std::vector<uint8_t>(4u << 20, 0), true);
    EXPECT_EQ(ReadAll(spread.Build(), 16u << 20), "!archive inflates beyond its limit");

    // ...or claiming to be small: inflating ends one byte past the claim.
    ZipBuilder liar;
    liar.Add("bomb", zeros, true).uncompressedSize = 10;
    EXPECT_EQ(ReadAll(liar.Build(), 16u << 20), "!entry inflates beyond its stated size");
}

}  // namespace
