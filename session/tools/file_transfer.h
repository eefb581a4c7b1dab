#pragma once
// Uploads from controllers: Base64 of their chunks and the table that holds them while they
// arrive. Everything here is plain bookkeeping so the caps can be checked without files.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace sv {

// Standard alphabet (RFC 4648). An empty result means the text was not valid Base64
// (or was empty).
std::vector<uint8_t> DecodeBase64(const std::string& text);
std::string EncodeBase64(const uint8_t* data, size_t length);

// One upload in progress.
struct FileTransfer {
    std::string name;       // as the controller sent it
    int64_t size = 0;       // declared size
    std::vector<uint8_t> data;
    uint64_t lastActivityMs = 0;
};

struct TransferLimits {
    uint64_t maxTransferBytes = 104857600;  // per transfer: declared and received
    uint64_t maxTotalBytes = 268435456;     // reserved by every transfer together
    size_t maxTransfers = 16;               // transfers in progress at once
    uint64_t idleMs = 300000;               // a transfer silent this long is dropped
};

enum class TransferOutcome {
    Ok,
    Ignored,         // no such transfer
    SizeCap,         // declared size negative or above the per-transfer cap
    TooMany,         // no room for another transfer
    ExceedsSizeCap,  // the bytes received crossed the per-transfer cap; transfer dropped
    MemoryFull,      // all transfers together would reserve past the total cap; transfer dropped
};

// The audit detail (also the controller's error text) for a refusal; "" for Ok and Ignored.
std::string TransferOutcomeText(TransferOutcome outcome);

// Transfers are keyed by sender and id so that one controller can never feed or finish
// another controller's upload. Not thread-safe: Transfers (transfers.h) guards it with its lock.
class TransferTable {
public:
    using Key = std::pair<std::string, std::string>;  // sender, transfer id

    explicit TransferTable(TransferLimits limits = TransferLimits());

    // A begin for a key already in use starts that transfer over.
    TransferOutcome Begin(const std::string& sender, const std::string& id, const std::string& name,
                          int64_t declaredSize, uint64_t nowMs);
    TransferOutcome Append(const std::string& sender, const std::string& id, const uint8_t* data, size_t length,
                           uint64_t nowMs);
    // Moves the finished transfer out; false when there is none.
    bool Finish(const std::string& sender, const std::string& id, FileTransfer& out);
    // Removes every transfer idle for the idle time or longer and returns their keys.
    std::vector<Key> DropIdle(uint64_t nowMs);

    bool Has(const std::string& sender, const std::string& id) const;
    size_t Count() const { return transfers_.size(); }
    // Memory reserved by every transfer together (at least the bytes they hold).
    uint64_t TotalBytes() const { return totalBytes_; }
    const TransferLimits& Limits() const { return limits_; }
    void SetLimits(const TransferLimits& limits) { limits_ = limits; }

private:
    void Erase(std::map<Key, FileTransfer>::iterator it);

    TransferLimits limits_;
    std::map<Key, FileTransfer> transfers_;
    uint64_t totalBytes_ = 0;
};

}  // namespace sv
