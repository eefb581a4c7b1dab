#pragma once
// Runs the controllers' remote-tool requests ("exec-request", "fs-list", "fs-read",
// "log-tail"), each on a thread of its owner's counted detached work, at most
// kRemoteToolSlots at once. A request over the cap is refused on the receiving thread,
// with the reply its type would get in its failure form.
#include <atomic>
#include <functional>
#include <string>

#include "session/relay/message_table.h"
#include "session/tools/tool_slots.h"

namespace sv {

class RemoteToolRunner {
public:
    struct Seams {
        std::function<void(const std::string& text)> sendText;
        // Runs work on a detached thread its owner waits for; false when it did not start.
        std::function<bool(std::function<void()> work)> runDetached;
    };

    // `cancel`, when set, ends a running command or file read (the owner is stopping);
    // it must outlive every piece of detached work.
    RemoteToolRunner(Seams seams, const std::atomic<bool>* cancel);
    RemoteToolRunner(const RemoteToolRunner&) = delete;
    RemoteToolRunner& operator=(const RemoteToolRunner&) = delete;

    void OnExecRequest(const IncomingMessage& m);
    void OnFsList(const IncomingMessage& m);
    void OnFsRead(const IncomingMessage& m);
    void OnLogTail(const IncomingMessage& m);

    size_t Running() const { return slots_.InUse(); }

private:
    using Reply = std::function<void(const std::string& text)>;
    // A work slot and a thread slot, both or neither.
    struct Held {
        ToolSlots::Slot work;
        ToolSlots::Slot thread;
        explicit operator bool() const { return work != nullptr; }
    };
    // Takes both slots, or answers at once with `refusal`, audits the type and `what`,
    // and gives an empty Held.
    Held TakeSlot(const IncomingMessage& m, const std::string& what, const std::string& refusal);
    // Runs `work` holding `held`; its replies go out one behind, and the work slot is
    // given back before the last, so a controller that sends its next request on that
    // reply finds it free. The thread slot goes once the last reply has left.
    void Run(Held held, std::function<void(const Reply&)> work);

    Seams seams_;
    const std::atomic<bool>* cancel_;
    ToolSlots slots_;
    ToolSlots threads_{kRemoteToolThreads};
};

}  // namespace sv
