#include "app/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace sv {
namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kEndSize = 22;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;
constexpr uint16_t kFlagEncrypted = 0x0001;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// Whether [offset, offset + length) lies inside a buffer of `size` bytes.
bool Fits(uint64_t offset, uint64_t length, size_t size) { return offset <= size && length <= size - offset; }

bool Fail(std::string& error, const char* why) {
    error = why;
    return false;
}

}  // namespace

ZipReader::ZipReader(const uint8_t* data, size_t size, uint64_t inflateBudget)
    : data_(data), size_(size), budget_(inflateBudget) {}

bool ZipReader::Open(std::string& error) {
    entries_.clear();
    if (data_ == nullptr || size_ < kEndSize) return Fail(error, "too short for an archive");
    // The end record sits at the very end, behind a comment of at most 65535 bytes;
    // the last match whose comment length reaches exactly to the end is the one.
    size_t end = std::numeric_limits<size_t>::max();
    const size_t lowest = size_ > kEndSize + 0xFFFF ? size_ - kEndSize - 0xFFFF : 0;
    for (size_t pos = size_ - kEndSize + 1; pos-- > lowest;) {
        if (Read32(data_ + pos) == kEndSignature && pos + kEndSize + Read16(data_ + pos + 20) == size_) {
            end = pos;
            break;
        }
    }
    if (end == std::numeric_limits<size_t>::max()) return Fail(error, "no end of central directory");
    const uint8_t* e = data_ + end;
    const uint16_t disk = Read16(e + 4), cdDisk = Read16(e + 6);
    const uint16_t onDisk = Read16(e + 8), total = Read16(e + 10);
    const uint32_t cdSize = Read32(e + 12), cdOffset = Read32(e + 16);
    if (disk != 0 || cdDisk != 0 || onDisk != total) return Fail(error, "multi-disk archive");
    if (total == 0xFFFF || cdSize == 0xFFFFFFFFu || cdOffset == 0xFFFFFFFFu) return Fail(error, "ZIP64 archive");
    if (!Fits(cdOffset, cdSize, end)) return Fail(error, "central directory outside the archive");

    size_t pos = cdOffset;
    const size_t cdEnd = static_cast<size_t>(cdOffset) + cdSize;
    for (uint32_t i = 0; i < total; ++i) {
        if (!Fits(pos, kCentralSize, cdEnd) || Read32(data_ + pos) != kCentralSignature) {
            return Fail(error, "bad central directory record");
        }
        const uint8_t* c = data_ + pos;
        ZipEntry entry;
        const uint16_t flags = Read16(c + 8);
        entry.method = Read16(c + 10);
        entry.crc32 = Read32(c + 16);
        entry.compressedSize = Read32(c + 20);
        entry.uncompressedSize = Read32(c + 24);
        const uint16_t nameLength = Read16(c + 28), extraLength = Read16(c + 30), commentLength = Read16(c + 32);
        entry.localHeaderOffset = Read32(c + 42);
        const uint64_t recordLength = uint64_t{kCentralSize} + nameLength + extraLength + commentLength;
        if (!Fits(pos, recordLength, cdEnd)) return Fail(error, "central directory record runs past its end");
        if (flags & kFlagEncrypted) return Fail(error, "encrypted entry");
        if (entry.compressedSize == 0xFFFFFFFFu || entry.uncompressedSize == 0xFFFFFFFFu ||
            entry.localHeaderOffset == 0xFFFFFFFFu) {
            return Fail(error, "ZIP64 entry");
        }
        entry.name.assign(reinterpret_cast<const char*>(c + kCentralSize), nameLength);
        entry.isDirectory = !entry.name.empty() && (entry.name.back() == '/' || entry.name.back() == '\\');
        entries_.push_back(std::move(entry));
        pos += static_cast<size_t>(recordLength);
    }
    return true;
}

bool ZipReader::Extract(const ZipEntry& entry, std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    if (entry.uncompressedSize > budget_) return Fail(error, "archive inflates beyond its limit");
    const size_t local = entry.localHeaderOffset;
    if (!Fits(local, kLocalSize, size_) || Read32(data_ + local) != kLocalSignature) {
        return Fail(error, "bad local header");
    }
    const uint64_t start = uint64_t{local} + kLocalSize + Read16(data_ + local + 26) + Read16(data_ + local + 28);
    if (!Fits(start, entry.compressedSize, size_)) return Fail(error, "entry data outside the archive");
    const uint8_t* input = data_ + start;

    if (entry.method == 0) {
        if (entry.compressedSize != entry.uncompressedSize) return Fail(error, "stored entry with two sizes");
        out.assign(input, input + entry.compressedSize);
    } else if (entry.method == 8) {
        out.resize(entry.uncompressedSize);
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return Fail(error, "inflate unavailable");
        z.next_in = const_cast<Bytef*>(input);
        z.avail_in = entry.compressedSize;
        // One byte of room beyond the stated size shows an entry that inflates larger.
        uint8_t spare = 0;
        z.next_out = out.empty() ? &spare : out.data();
        z.avail_out = out.empty() ? 1 : static_cast<uInt>(out.size());
        int rc = inflate(&z, Z_FINISH);
        if (rc == Z_BUF_ERROR && z.avail_out == 0 && !out.empty()) {
            z.next_out = &spare;
            z.avail_out = 1;
            rc = inflate(&z, Z_FINISH);
        }
        const uLong produced = z.total_out;
        inflateEnd(&z);
        if (rc != Z_STREAM_END) {
            out.clear();
            return Fail(error, produced > entry.uncompressedSize ? "entry inflates beyond its stated size"
                                                                 : "corrupt or truncated deflate data");
        }
        if (produced != entry.uncompressedSize) {
            out.clear();
            return Fail(error, "entry inflates to another size than stated");
        }
    } else {
        return Fail(error, "unsupported compression method");
    }
    uint32_t crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
    // zlib's length type is 32-bit: feed large buffers in pieces.
    for (size_t done = 0; done < out.size();) {
        const size_t piece = std::min<size_t>(out.size() - done, 1u << 30);
        crc = static_cast<uint32_t>(crc32(crc, out.data() + done, static_cast<uInt>(piece)));
        done += piece;
    }
    if (crc != entry.crc32) {
        out.clear();
        return Fail(error, "CRC mismatch");
    }
    budget_ -= entry.uncompressedSize;
    return true;
}

}  // namespace sv
