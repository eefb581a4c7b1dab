#include "training/transcript_writer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <utility>

#include "training/training_json.h"
#include "training/training_time.h"

namespace sv {
namespace training {

namespace fs = std::filesystem;
using nlohmann::json;

std::string FormatSessionId(const std::tm& local, uint32_t random) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%04d%02d%02d-%02d%02d%02d-%06x", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, random & 0xFFFFFFu);
    return buf;
}

std::string NewSessionId(int64_t nowMs) {
    uint32_t random = 0;
    try {
        std::random_device rd;
        random = rd();
    } catch (...) {
        // No OS source: fall back to the clock's sub-second part, still unique enough per second.
        random = static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    return FormatSessionId(LocalTimeOf(nowMs), random);
}

bool IsSafeSessionId(const std::string& id) {
    if (id.empty() || id.size() > 64) return false;
    for (char c : id) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (!ok) return false;
    }
    std::string upper;
    for (char c : id) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CLOCK"};
    for (const char* d : kDevices) {
        if (upper == d) return false;
    }
    if (upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
        upper[3] >= '0' && upper[3] <= '9') {
        return false;
    }
    return true;
}

TranscriptWriter::TranscriptWriter(std::string sessionId, const std::string& directory,
                                   std::function<int64_t()> clock)
    : sessionId_(std::move(sessionId)), clock_(std::move(clock)) {
    if (directory.empty() || !IsSafeSessionId(sessionId_)) return;
    std::error_code ec;
    fs::path dir = fs::u8path(directory);
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) return;
    filePath_ = (dir / fs::u8path(sessionId_ + ".jsonl")).u8string();
}

void TranscriptWriter::Append(const std::string& kind, const json& data) {
    json line = json::object();
    line["ts"] = clock_ ? clock_() : 0;
    line["kind"] = kind;
    if (!data.is_null()) line["data"] = data;
    std::string text = SerializeJson(line);
    MutexLock lock(mutex_);
    if (entries_.size() < kMaxEntries) entries_.push_back(line);
    if (filePath_.empty()) return;
    std::ofstream out(fs::u8path(filePath_), std::ios::binary | std::ios::app);
    if (!out) return;
    text += "\r\n";
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::vector<json> TranscriptWriter::Entries() const {
    MutexLock lock(mutex_);
    return entries_;
}

std::vector<TranscriptListEntry> ListTranscripts(const std::string& directory, size_t max) {
    std::vector<TranscriptListEntry> out;
    if (directory.empty()) return out;
    std::error_code ec;
    fs::path dir = fs::u8path(directory);
    if (!fs::is_directory(dir, ec)) return out;
    // file_time_type has no portable conversion in C++17; anchor both clocks at one moment.
    const auto fileNow = fs::file_time_type::clock::now();
    const auto sysNow = std::chrono::system_clock::now();
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::directory_entry& entry = *it;
        std::error_code fec;
        if (!entry.is_regular_file(fec)) continue;
        if (entry.path().extension() != ".jsonl") continue;
        TranscriptListEntry e;
        e.sessionId = entry.path().stem().u8string();
        e.bytes = static_cast<uint64_t>(entry.file_size(fec));
        if (fec) e.bytes = 0;
        auto written = entry.last_write_time(fec);
        if (fec) continue;
        auto sys = sysNow + std::chrono::duration_cast<std::chrono::system_clock::duration>(written - fileNow);
        int64_t secs = std::chrono::duration_cast<std::chrono::seconds>(sys.time_since_epoch()).count();
        if (sys.time_since_epoch() < std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                         std::chrono::seconds(secs))) {
            --secs;  // floor, not toward zero
        }
        e.updated = FormatUtcSeconds(secs);
        e.updatedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(written.time_since_epoch()).count();
        out.push_back(std::move(e));
    }
    std::stable_sort(out.begin(), out.end(), [](const TranscriptListEntry& a, const TranscriptListEntry& b) {
        return a.updatedNs > b.updatedNs;
    });
    if (out.size() > max) out.resize(max);
    return out;
}

std::optional<std::vector<json>> ReadTranscript(const std::string& directory, const std::string& id) {
    if (directory.empty() || !IsSafeSessionId(id)) return std::nullopt;
    std::error_code ec;
    fs::path path = fs::u8path(directory) / fs::u8path(id + ".jsonl");
    if (!fs::is_regular_file(path, ec)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<json> out;
    std::string line;
    while (out.size() < TranscriptWriter::kMaxEntries && std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        json v = json::parse(line, nullptr, false);
        if (v.is_discarded()) continue;
        out.push_back(std::move(v));
    }
    return out;
}

}  // namespace training
}  // namespace sv
