// Uploads from controllers into the data directory's "received" folder.
#include <windows.h>

#include <chrono>
#include <limits>

#include "base/audit_log.h"
#include "base/text_encoding.h"
#include "session/tools/file_transfer.h"
#include "base/json_fields.h"
#include "session/host.h"
#include "session/tools/remote_tool_formats.h"
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

void CreateDirectoryChain(const std::wstring& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == L'\\' || path[i] == L'/') {
            std::wstring prefix = path.substr(0, i);
            if (prefix.size() == 2 && prefix[1] == L':') continue;  // "C:"
            CreateDirectoryW(prefix.c_str(), nullptr);
        }
    }
}

bool WriteAll(HANDLE file, const std::vector<uint8_t>& data) {
    size_t done = 0;
    while (done < data.size()) {
        DWORD piece = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 24));
        DWORD written = 0;
        if (!WriteFile(file, data.data() + done, piece, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

}  // namespace

void Host::ReportTransferError(const std::string& from, const std::string& id, const std::string& detail) {
    WriteAuditLine("file-error", detail, from);
    SendText(FileErrorMessage(id, detail));
}

void Host::HandleFileBegin(const json& msg, const std::string& from) {
    std::string id = JsonStringOrEmpty(msg, "id");
    if (id.empty()) return;
    int64_t size = DeclaredSize(msg);
    std::string name = JsonStringOrEmpty(msg, "name");
    TransferOutcome outcome;
    bool startSweeper = false;
    {
        std::lock_guard<std::mutex> lock(transferMutex_);
        outcome = transfers_.Begin(from, id, name, size, transferClock_());
        if (outcome == TransferOutcome::Ok && !transferSweeperRunning_) {
            transferSweeperRunning_ = true;
            startSweeper = true;
        }
    }
    if (outcome != TransferOutcome::Ok) {
        ReportTransferError(from, id, TransferOutcomeText(outcome));
        return;
    }
    if (startSweeper) RunDetached([this] { RunTransferSweeper(); });
}

void Host::HandleFileChunk(const json& msg, const std::string& from) {
    std::string id = JsonStringOrEmpty(msg, "id");
    if (id.empty()) return;
    std::string data = JsonStringOrEmpty(msg, "data");
    if (data.empty()) return;
    std::vector<uint8_t> bytes = DecodeBase64(data);
    if (bytes.empty()) {
        ReportTransferError(from, id, "bad base64");
        return;
    }
    TransferOutcome outcome;
    {
        std::lock_guard<std::mutex> lock(transferMutex_);
        outcome = transfers_.Append(from, id, bytes.data(), bytes.size(), transferClock_());
    }
    if (outcome != TransferOutcome::Ok && outcome != TransferOutcome::Ignored) {
        ReportTransferError(from, id, TransferOutcomeText(outcome));
    }
}

void Host::HandleFileEnd(const json& msg, const std::string& from) {
    std::string id = JsonStringOrEmpty(msg, "id");
    if (id.empty()) return;
    FileTransfer transfer;
    {
        std::lock_guard<std::mutex> lock(transferMutex_);
        if (!transfers_.Finish(from, id, transfer)) return;
    }
    std::string name = SafeUploadName(transfer.name);
    std::wstring dir = Utf8ToUtf16(dataDir_) + L"\\received";
    CreateDirectoryChain(dir);

    // Created exclusively: an existing file is never overwritten, the next free
    // "name (n).ext" is taken instead, even when two uploads finish at once.
    HANDLE file = INVALID_HANDLE_VALUE;
    std::wstring target;
    for (int n = 0; n < 10000; ++n) {
        std::string candidate = n == 0 ? name : NumberedName(name, n);
        target = dir + L"\\" + Utf8ToUtf16(candidate);
        file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) break;
        if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) break;  // not taken: a real failure
    }
    if (file == INVALID_HANDLE_VALUE) {
        ReportTransferError(from, id, "cannot write file: " + name);
        return;
    }
    bool ok = WriteAll(file, transfer.data);
    if (!CloseHandle(file)) ok = false;
    if (!ok) {
        DeleteFileW(target.c_str());
        ReportTransferError(from, id, "cannot write file: " + name);
        return;
    }
    WriteAuditLine("file-recv", name + " bytes=" + std::to_string(transfer.data.size()) + " -> " + Utf16ToUtf8(target),
                   from);
}

void Host::DropIdleTransfers() {
    std::vector<TransferTable::Key> dropped;
    {
        std::lock_guard<std::mutex> lock(transferMutex_);
        dropped = transfers_.DropIdle(transferClock_());
    }
    for (const auto& key : dropped) ReportTransferError(key.first, key.second, "idle timeout");
}

void Host::RunTransferSweeper() {
    std::unique_lock<std::mutex> lock(transferMutex_);
    while (!stop_.load() && transfers_.Count() > 0) {
        transferWake_.wait_for(lock, std::chrono::seconds(1));
        if (stop_.load()) break;
        std::vector<TransferTable::Key> dropped = transfers_.DropIdle(transferClock_());
        if (dropped.empty()) continue;
        lock.unlock();
        for (const auto& key : dropped) ReportTransferError(key.first, key.second, "idle timeout");
        lock.lock();
    }
    transferSweeperRunning_ = false;
}

void Host::SetTransferLimits(const TransferLimits& limits) {
    std::lock_guard<std::mutex> lock(transferMutex_);
    transfers_.SetLimits(limits);
}

void Host::SetTransferClock(std::function<uint64_t()> clock) {
    std::lock_guard<std::mutex> lock(transferMutex_);
    transferClock_ = std::move(clock);
}

}  // namespace sv
