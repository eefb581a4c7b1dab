#include "session/tools/file_transfer.h"

#include <algorithm>

#include "mbedtls/base64.h"

namespace sv {

std::vector<uint8_t> DecodeBase64(const std::string& text) {
    if (text.empty()) return {};
    size_t needed = 0;
    const auto* src = reinterpret_cast<const unsigned char*>(text.data());
    int rc = mbedtls_base64_decode(nullptr, 0, &needed, src, text.size());
    if (rc != 0 && rc != MBEDTLS_ERR_BASE64_BUFFER_TOO_SMALL) return {};
    if (needed == 0) return {};
    std::vector<uint8_t> out(needed);
    size_t written = 0;
    if (mbedtls_base64_decode(out.data(), out.size(), &written, src, text.size()) != 0) return {};
    out.resize(written);
    return out;
}

std::string EncodeBase64(const uint8_t* data, size_t length) {
    if (length == 0) return std::string();
    std::string out(4 * ((length + 2) / 3) + 1, '\0');
    size_t written = 0;
    if (mbedtls_base64_encode(reinterpret_cast<unsigned char*>(&out[0]), out.size(), &written, data, length) != 0) {
        return std::string();
    }
    out.resize(written);
    return out;
}

std::string TransferOutcomeText(TransferOutcome outcome) {
    switch (outcome) {
        case TransferOutcome::SizeCap: return "size cap";
        case TransferOutcome::TooMany: return "too many transfers";
        case TransferOutcome::ExceedsSizeCap: return "transfer exceeds size cap";
        case TransferOutcome::MemoryFull: return "upload memory full";
        case TransferOutcome::Ok:
        case TransferOutcome::Ignored: break;
    }
    return std::string();
}

TransferTable::TransferTable(TransferLimits limits) : limits_(limits) {}

void TransferTable::Erase(std::map<Key, FileTransfer>::iterator it) {
    totalBytes_ -= it->second.data.capacity();
    transfers_.erase(it);
}

TransferOutcome TransferTable::Begin(const std::string& sender, const std::string& id, const std::string& name,
                                     int64_t declaredSize, uint64_t nowMs) {
    if (declaredSize < 0 || static_cast<uint64_t>(declaredSize) > limits_.maxTransferBytes) {
        return TransferOutcome::SizeCap;
    }
    Key key(sender, id);
    auto it = transfers_.find(key);
    if (it != transfers_.end()) {
        totalBytes_ -= it->second.data.capacity();
        it->second.data = std::vector<uint8_t>();
    } else {
        if (transfers_.size() >= limits_.maxTransfers) return TransferOutcome::TooMany;
        it = transfers_.emplace(key, FileTransfer()).first;
    }
    // Nothing is reserved here: a declared size is only a claim, memory follows the bytes.
    it->second.name = name;
    it->second.size = declaredSize;
    it->second.lastActivityMs = nowMs;
    return TransferOutcome::Ok;
}

TransferOutcome TransferTable::Append(const std::string& sender, const std::string& id, const uint8_t* data,
                                      size_t length, uint64_t nowMs) {
    auto it = transfers_.find(Key(sender, id));
    if (it == transfers_.end()) return TransferOutcome::Ignored;
    FileTransfer& t = it->second;
    uint64_t needed = static_cast<uint64_t>(t.data.size()) + length;
    if (needed > limits_.maxTransferBytes) {
        Erase(it);
        return TransferOutcome::ExceedsSizeCap;
    }
    // The total counts what is reserved, not what is held: growth ahead of the bytes is
    // memory in use all the same.
    uint64_t held = t.data.capacity();
    uint64_t others = totalBytes_ - held;
    if (needed > held) {
        // Grow geometrically, but not past the declared size when the upload fits in it,
        // so an honest upload ends without slack.
        uint64_t cap = std::max<uint64_t>(needed, held * 2);
        if (t.size > 0 && static_cast<uint64_t>(t.size) >= needed) cap = std::min<uint64_t>(cap, t.size);
        // Nor past the per-transfer cap: doubling would otherwise hold up to twice of it.
        cap = std::min<uint64_t>(cap, limits_.maxTransferBytes);
        // Nor past what all transfers together may reserve: then only what is needed.
        if (others + cap > limits_.maxTotalBytes) cap = needed;
        if (others + cap > limits_.maxTotalBytes) {
            Erase(it);
            return TransferOutcome::MemoryFull;
        }
        t.data.reserve(static_cast<size_t>(cap));
        totalBytes_ = others + t.data.capacity();
    }
    t.data.insert(t.data.end(), data, data + length);
    t.lastActivityMs = nowMs;
    return TransferOutcome::Ok;
}

bool TransferTable::Finish(const std::string& sender, const std::string& id, FileTransfer& out) {
    auto it = transfers_.find(Key(sender, id));
    if (it == transfers_.end()) return false;
    totalBytes_ -= it->second.data.capacity();
    out = std::move(it->second);
    transfers_.erase(it);
    return true;
}

std::vector<TransferTable::Key> TransferTable::DropIdle(uint64_t nowMs) {
    std::vector<Key> dropped;
    for (auto it = transfers_.begin(); it != transfers_.end();) {
        auto next = std::next(it);
        uint64_t last = it->second.lastActivityMs;
        if (nowMs >= last && nowMs - last >= limits_.idleMs) {
            dropped.push_back(it->first);
            Erase(it);
        }
        it = next;
    }
    return dropped;
}

bool TransferTable::Has(const std::string& sender, const std::string& id) const {
    return transfers_.count(Key(sender, id)) != 0;
}

}  // namespace sv
