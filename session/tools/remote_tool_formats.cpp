#include "session/tools/remote_tool_formats.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/utf8_text.h"
#include "session/tools/file_transfer.h"

namespace sv {

using nlohmann::json;

bool CappedOutput::Append(const char* data, size_t length) {
    if (truncated_) return false;
    size_t room = cap_ - text_.size();
    if (length <= room) {
        text_.append(data, length);
        return true;
    }
    text_.append(data, room);
    text_ += "\n[output truncated]";
    truncated_ = true;
    return false;
}

int ClampTailLines(const json& lines) {
    int64_t n = kLogTailDefaultLines;
    if (lines.is_number_integer()) {
        if (lines.is_number_unsigned()) {
            n = lines.get<uint64_t>() > static_cast<uint64_t>(kLogTailMaxLines) ? kLogTailMaxLines
                                                                                  : static_cast<int64_t>(lines.get<uint64_t>());
        } else {
            n = lines.get<int64_t>();
        }
    } else if (lines.is_number_float()) {
        double d = lines.get<double>();
        if (d != d) {
            n = kLogTailDefaultLines;
        } else {
            n = d < 1 ? 1 : (d > kLogTailMaxLines ? kLogTailMaxLines : static_cast<int64_t>(d));
        }
    }
    if (n < 1) n = 1;
    if (n > kLogTailMaxLines) n = kLogTailMaxLines;
    return static_cast<int>(n);
}

std::string TailLines(const std::string& text, int count) {
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
    std::vector<std::string> lines;
    size_t start = 0;
    while (true) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos || nl >= end) nl = end;
        std::string line = text.substr(start, nl - start);
        while (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        if (nl >= end) break;
        start = nl + 1;
    }
    if (count < 1) count = 1;
    size_t first = lines.size() > static_cast<size_t>(count) ? lines.size() - count : 0;
    std::string out;
    for (size_t i = first; i < lines.size(); ++i) {
        if (i > first) out += '\n';
        out += lines[i];
    }
    return out;
}

bool IsValidUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        size_t n = Utf8SequenceLength(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string ReplaceInvalidUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t n = Utf8SequenceLength(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text, i, n);
            i += n;
        }
    }
    return out;
}

std::string FormatModifiedTime(int year, int month, int day, int hour, int minute) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%04d-%02d-%02d %02d:%02d", year, month, day, hour, minute);
    return buf;
}

std::string MakeDownloadId(uint64_t tickMs, uint64_t counter) {
    return std::to_string(tickMs) + "-" + std::to_string(counter);
}

uint64_t ChunkCount(uint64_t size, size_t chunkBytes) {
    if (chunkBytes == 0) return 0;
    return (size + chunkBytes - 1) / chunkBytes;
}

bool DirListing::Add(const std::string& name, bool isDir, int64_t size, const std::string& modified) {
    if (entries.size() >= cap) return false;
    entries.push_back({{"name", name}, {"isDir", isDir}, {"size", size}, {"modified", modified}});
    return true;
}

}  // namespace sv
