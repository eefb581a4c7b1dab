#pragma once
// Clipboard text and uploads from controllers. An upload is held in memory, within
// TransferLimits, from "file-begin" to "file-end" and then written into the data
// directory's "received" folder under a name of its own; every refusal is an audit
// line and a "file-error" to its sender. While uploads are in progress a sweeper drops
// those that went silent for the idle time.
//
// Threads: the message threads (relay loop, LAN receive loops) call the handlers; the
// sweeper runs on a worker started through runDetached, one at a time, and its owner
// waits for it after Shutdown. Lock: one, a leaf. It guards the table, the limits and
// the sweeper's state; Base64 decoding, file writes, audit lines and sends happen with
// it released.
#include <cstdint>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "base/annotated_mutex.h"

#include "session/tools/file_transfer.h"

namespace sv {

class Transfers {
public:
    struct Seams {
        std::function<void(const std::string& text)> sendText;
        std::function<void(const std::string& kind, const std::string& detail, const std::string& actor)> audit;
        std::function<bool(const std::string& text)> setClipboardText;
        std::function<uint64_t()> steadyMs;
        // The owner is shutting down: the sweeper ends.
        std::function<bool()> stopping;
        // Runs work on a detached thread that the owner waits for before it goes; false
        // (work not run) when no thread could be started.
        std::function<bool(std::function<void()> work)> runDetached;
    };

    Transfers(std::string dataDir, Seams seams);
    Transfers(const Transfers&) = delete;
    Transfers& operator=(const Transfers&) = delete;

    // The messages; `from` is the sender and owns its uploads. Members of the wrong kind
    // read as absent.
    void OnClipboard(const nlohmann::json& msg, const std::string& from);
    void OnFileBegin(const nlohmann::json& msg, const std::string& from);
    void OnFileChunk(const nlohmann::json& msg, const std::string& from);
    void OnFileEnd(const nlohmann::json& msg, const std::string& from);

    // Drops the transfers idle for the idle time, telling each sender (the sweeper does
    // this every second while transfers are in progress).
    void DropIdle();
    void SetLimits(const TransferLimits& limits);
    // Ends the sweeper's wait at once; its owner then waits for its workers.
    void Shutdown();

private:
    void ReportError(const std::string& from, const std::string& id, const std::string& detail);
    void RunSweeper();

    const std::string dataDir_;
    const Seams seams_;

    Mutex mutex_;
    CondVar wake_;  // with mutex_: ends the sweeper's wait
    TransferTable table_ SV_GUARDED_BY(mutex_);
    bool sweeperRunning_ SV_GUARDED_BY(mutex_) = false;
    bool shutdown_ SV_GUARDED_BY(mutex_) = false;
};

}  // namespace sv
