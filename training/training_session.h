#pragma once
// One training session: made by "start", shared by every operation that runs during it.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/annotated_mutex.h"
#include "training/entry_gate.h"
#include "training/training_mode.h"
#include "training/training_records.h"
#include "training/transcript_writer.h"

namespace sv {
namespace training {

// The answer of an op whose session is gone, or was never started.
constexpr const char* kNoSessionMessage = "no training session is active — call start first";

struct TrainingSession {
    // The chat keeps the newest lines only, so a long session cannot grow without bound;
    // the count of every line stays exact.
    static constexpr size_t kMaxChatMessages = 4000;

    std::string id;
    std::string title;
    std::string trainer;
    std::string culture;
    TrainingMode mode = TrainingMode::kDemo;
    std::unique_ptr<TranscriptWriter> transcript;
    int64_t startTime = 0;    // wall clock
    int64_t startSteady = 0;  // steady clock, for the session's length
    std::string controller;
    // What reaches the trainee in this session's name (a shape, the banner, a chat line, a
    // sound, injected input, an event about the trainee, a record of any of them) passes
    // through here while it acts. It opens once the surface shows the session's banner, so
    // nothing comes before it; the end closes it and waits (bounded), so nothing comes after.
    EntryGate live{false};
    // How long a caller waits for the banner before it is turned away.
    std::chrono::milliseconds openWait{0};
    // Set by the start once the session's activity source, focus tracking and quiet watch
    // are the agent's; the end then stops them, else the start undoes them itself.
    // Guarded by the agent's lifecycle mutex.
    bool setUp = false;
    std::string endReason;  // set by its end; guarded by the agent's lifecycle mutex

    void AddChat(const ChatMessage& message) SV_EXCLUDES(chatMutex_) {
        MutexLock lock(chatMutex_);
        chat_.push_back(message);
        ++chatCount_;
        while (chat_.size() > kMaxChatMessages) chat_.pop_front();
    }
    // Every line ever added, including those no longer held.
    int64_t ChatCount() const SV_EXCLUDES(chatMutex_) {
        MutexLock lock(chatMutex_);
        return chatCount_;
    }
    // The held lines with seq > since, in arrival order.
    std::vector<ChatMessage> ChatSince(int64_t since) const SV_EXCLUDES(chatMutex_) {
        MutexLock lock(chatMutex_);
        std::vector<ChatMessage> out;
        for (const ChatMessage& m : chat_) {
            if (m.seq > since) out.push_back(m);
        }
        return out;
    }

private:
    mutable Mutex chatMutex_;
    std::deque<ChatMessage> chat_ SV_GUARDED_BY(chatMutex_);
    int64_t chatCount_ SV_GUARDED_BY(chatMutex_) = 0;
};

// The session that is live now (empty when none).
using CurrentSessionFn = std::function<std::shared_ptr<TrainingSession>()>;

// Runs act only while session is the live one and its banner is up (waiting for it up to
// the session's openWait); its end waits (bounded) until act has returned. False (act not
// run) once the session has ended or when the banner did not come up in time. Never end a
// session from inside act: the end would wait for itself.
template <typename F>
bool WhileLive(const std::shared_ptr<TrainingSession>& session, const CurrentSessionFn& current, F&& act) {
    EntryGate::Pass pass(session->live, session->openWait);
    if (!pass.Entered() || current() != session) return false;
    act();
    return true;
}

}  // namespace training
}  // namespace sv
