#include "session/tools/transfers.h"

#include <chrono>
#include <limits>
#include <utility>

#include "base/file_io.h"
#include "base/json_fields.h"
#include "session/relay/relay_messages.h"
#include "session/tools/clipboard.h"
#include "session/tools/upload_names.h"

namespace sv {
namespace {

using nlohmann::json;

// The declared size; anything that is not a whole number in range reads as -1 (refused).
int64_t DeclaredSize(const json& msg) {
    auto it = msg.find("size");
    if (it == msg.end() || it->is_null()) return 0;
    if (it->is_number_unsigned()) {
        uint64_t v = it->get<uint64_t>();
        return v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? -1 : static_cast<int64_t>(v);
    }
    if (it->is_number_integer()) return it->get<int64_t>();
    if (it->is_number_float()) {
        double d = it->get<double>();
        if (!(d >= 0 && d <= 9.0e15) || d != static_cast<double>(static_cast<int64_t>(d))) return -1;
        return static_cast<int64_t>(d);
    }
    return -1;
}

}  // namespace

Transfers::Transfers(std::string dataDir, Seams seams) : dataDir_(std::move(dataDir)), seams_(std::move(seams)) {}

void Transfers::OnClipboard(const json& msg, const std::string& from) {
    auto it = msg.find("text");
    // Only a text replaces the person's clipboard; a message without one is dropped whole
    // rather than read as empty text, which would wipe it.
    if (it == msg.end() || !it->is_string()) return;
    const std::string& text = it->get_ref<const std::string&>();
    std::string length = std::to_string(text.size());
    if (text.size() > kClipboardCapBytes) {
        seams_.audit("clipboard-skip", "len=" + length, from);
        return;
    }
    bool ok = seams_.setClipboardText(text);
    seams_.audit("clipboard", "remote->host len=" + length, from);
    if (!ok) seams_.audit("clipboard-error", "the clipboard could not be set", from);
}

void Transfers::ReportError(const std::string& from, const std::string& id, const std::string& detail) {
    seams_.audit("file-error", detail, from);
    seams_.sendText(FileErrorMessage(id, detail));
}

void Transfers::OnFileBegin(const json& msg, const std::string& from) {
    std::string id = JsonStringOrEmpty(msg, "id");
    if (id.empty()) return;
    int64_t size = DeclaredSize(msg);
    std::string name = JsonStringOrEmpty(msg, "name");
    TransferOutcome outcome;
    bool startSweeper = false;
    {
        MutexLock lock(mutex_);
        outcome = table_.Begin(from, id, name, size, seams_.steadyMs());
        if (outcome == TransferOutcome::Ok && !sweeperRunning_) {
            sweeperRunning_ = true;
            startSweeper = true;
        }
    }
    if (outcome != TransferOutcome::Ok) {
        ReportError(from, id, TransferOutcomeText(outcome));
        return;
    }
    if (startSweeper && !seams_.runDetached([this] { RunSweeper(); })) {
        // No sweeper runs: the next upload tries again, or idle ones would stay for good.
        MutexLock lock(mutex_);
        sweeperRunning_ = false;
    }
}

void Transfers::OnFileChunk(const json& msg, const std::string& from) {
    std::string id = JsonStringOrEmpty(msg, "id");
    if (id.empty()) return;
    std::string data = JsonStringOrEmpty(msg, "data");
    if (data.empty()) return;
    std::vector<uint8_t> bytes = DecodeBase64(data);
    if (bytes.empty()) {
        ReportError(from, id, "bad base64");
        return;
    }
    TransferOutcome outcome;
    {
        MutexLock lock(mutex_);
        outcome = table_.Append(from, id, bytes.data(), bytes.size(), seams_.steadyMs());
    }
    if (outcome != TransferOutcome::Ok && outcome != TransferOutcome::Ignored) {
        ReportError(from, id, TransferOutcomeText(outcome));
    }
}

void Transfers::OnFileEnd(const json& msg, const std::string& from) {
    std::string id = JsonStringOrEmpty(msg, "id");
    if (id.empty()) return;
    FileTransfer transfer;
    {
        MutexLock lock(mutex_);
        if (!table_.Finish(from, id, transfer)) return;
    }
    std::string name = SafeUploadName(transfer.name);
    const std::string dir = dataDir_ + "\\received";
    EnsureDirectory(dir);

    // Created exclusively: an existing file is never overwritten, the next free
    // "name (n).ext" is taken instead, even when two uploads finish at once.
    NewFileResult result = NewFileResult::Taken;
    std::string target;
    for (int n = 0; n < 10000 && result == NewFileResult::Taken; ++n) {
        target = JoinDataPath(dir, n == 0 ? name : NumberedName(name, n));
        result = WriteNewFile(target, transfer.data.data(), transfer.data.size());
    }
    if (result != NewFileResult::Written) {
        ReportError(from, id, "cannot write file: " + name);
        return;
    }
    seams_.audit("file-recv", name + " bytes=" + std::to_string(transfer.data.size()) + " -> " + target, from);
}

void Transfers::DropIdle() {
    std::vector<TransferTable::Key> dropped;
    {
        MutexLock lock(mutex_);
        dropped = table_.DropIdle(seams_.steadyMs());
    }
    for (const auto& key : dropped) ReportError(key.first, key.second, "idle timeout");
}

void Transfers::RunSweeper() {
    MutexLock lock(mutex_);
    auto ending = [this]() SV_REQUIRES(mutex_) { return shutdown_ || seams_.stopping(); };
    while (!ending() && table_.Count() > 0) {
        wake_.WaitFor(lock, std::chrono::seconds(1));
        if (ending()) break;
        lock.Unlock();
        DropIdle();
        lock.Lock();
    }
    sweeperRunning_ = false;
}

void Transfers::SetLimits(const TransferLimits& limits) {
    MutexLock lock(mutex_);
    table_.SetLimits(limits);
}

void Transfers::Shutdown() {
    MutexLock lock(mutex_);
    shutdown_ = true;
    wake_.NotifyAll();
}

}  // namespace sv
