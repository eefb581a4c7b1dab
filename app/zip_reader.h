#pragma once
// A ZIP archive held in memory: its central directory and its entries, stored or
// deflated. Every offset and size the archive states is checked against the buffer
// before it is used, and all inflating shares one budget, so a hostile archive can
// neither read outside the buffer nor make the reader allocate without bound.
// Not supported (refused): ZIP64, encryption, multi-disk archives, other methods.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sv {

struct ZipEntry {
    std::string name;  // as stored, bytes unchanged
    uint16_t method = 0;  // 0 stored, 8 deflate
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint32_t localHeaderOffset = 0;
    bool isDirectory = false;  // the name ends with "/" or "\"
};

class ZipReader {
public:
    // `inflateBudget` bounds the sum of all uncompressed sizes extracted through this
    // reader; the buffer must outlive the reader.
    ZipReader(const uint8_t* data, size_t size, uint64_t inflateBudget);

    // Reads the central directory; false with a reason for anything malformed.
    bool Open(std::string& error);
    const std::vector<ZipEntry>& Entries() const { return entries_; }

    // The entry's bytes, checked against its size and CRC-32.
    bool Extract(const ZipEntry& entry, std::vector<uint8_t>& out, std::string& error);

private:
    const uint8_t* data_;
    size_t size_;
    uint64_t budget_;
    std::vector<ZipEntry> entries_;
};

}  // namespace sv
