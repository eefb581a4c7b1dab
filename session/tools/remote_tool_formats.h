#pragma once
// The remote tools' limits, text rules and reply shapes, apart from any process, pipe or file
// so that they can be checked on their own.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "session/relay/relay_messages.h"

namespace sv {

constexpr uint32_t kCommandTimeoutMs = 60000;
constexpr size_t kCommandOutputCap = 262144;
constexpr size_t kPipeReadSize = 8192;
constexpr uint32_t kPipeReaderGraceMs = 2000;
constexpr size_t kDirListingCap = 5000;
constexpr uint64_t kFsReadMaxBytes = 104857600;
constexpr size_t kFsReadChunkBytes = 65536;
constexpr uint64_t kLogTailBytes = 262144;
constexpr int kLogTailDefaultLines = 100;
constexpr int kLogTailMaxLines = 5000;

// Output of one stream of a command, kept up to a cap. Once more bytes arrive than fit,
// the kept part is followed by "\n[output truncated]" and nothing more is taken.
class CappedOutput {
public:
    explicit CappedOutput(size_t cap = kCommandOutputCap) : cap_(cap) {}
    // False once the cap was exceeded (this call or before): the caller stops the command.
    bool Append(const char* data, size_t length);
    bool Truncated() const { return truncated_; }
    const std::string& Text() const { return text_; }

private:
    size_t cap_;
    bool truncated_ = false;
    std::string text_;
};

// "lines" as the controller sent it (any JSON value) to 1..5000; missing or not an integer
// gives the default of 100.
int ClampTailLines(const nlohmann::json& lines);
// The last `count` lines of `text`: trailing CR and LF removed, split at LF, each line's
// trailing CRs removed, joined with LF. Empty lines inside count.
std::string TailLines(const std::string& text, int count);

bool IsValidUtf8(const std::string& text);
// Every byte that does not belong to a well-formed UTF-8 sequence becomes U+FFFD.
std::string ReplaceInvalidUtf8(const std::string& text);

// "%04d-%02d-%02d %02d:%02d".
std::string FormatModifiedTime(int year, int month, int day, int hour, int minute);

// A download's transfer id: tick count, "-", a per-process counter (unique across threads).
std::string MakeDownloadId(uint64_t tickMs, uint64_t counter);

// Number of "file-chunk" messages for a file of `size` bytes.
uint64_t ChunkCount(uint64_t size, size_t chunkBytes = kFsReadChunkBytes);

// A directory listing being built: directories are added first, then the rest; once
// `cap` entries are held, further entries are left out.
struct DirListing {
    nlohmann::json entries = nlohmann::json::array();
    size_t cap = kDirListingCap;
    // False when the entry was left out for the cap.
    bool Add(const std::string& name, bool isDir, int64_t size, const std::string& modified);
};

// The replies themselves are built with every other outgoing message.
inline std::string FsListResultJson(const std::string& id, const std::string& path, const DirListing& listing) {
    return FsListResultJson(id, path, listing.entries);
}

}  // namespace sv
