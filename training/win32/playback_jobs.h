#pragma once
// One speech or clip job as the audio worker runs it: the MCI command sequence and the
// speech voice's polling, over seams, so the sequence, the cancellation, the time-outs
// and the volume changes are checked without a sound device or a speech engine.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "training/training_records.h"

namespace sv {
namespace training {

// The trainee's volume and mute as the banner sets them; jobs read them on every poll.
struct LiveAudio {
    std::atomic<double> volume{1.0};
    std::atomic<bool> muted{false};
};

// What a job needs of time: a steady millisecond clock, and a pause of about `ms` during
// which the thread's waiting messages are dispatched (speech and MCI need them).
struct PlaybackClock {
    std::function<int64_t()> steadyMs;
    std::function<void(uint32_t ms)> pump;
};

struct MciReply {
    std::wstring text;
    uint32_t error = 0;  // 0 = success
};
struct MciDevice {
    std::function<MciReply(const std::wstring& command)> send;
    std::function<std::string(uint32_t error)> errorText;
};

// One speech voice object.
struct SpeechVoice {
    // Selects the installed voice whose name is exactly this; no match keeps the default.
    std::function<void(const std::string& name)> select;
    std::function<void(int32_t volume)> setVolume;  // 0..100
    // Starts speaking asynchronously; a failed HRESULT when the text is refused.
    std::function<int32_t(const std::wstring& text)> speak;
    // Waits up to ms for the speech to end: 0 when it has, 1 while it goes on, a failed
    // HRESULT (below 0) when the engine cannot tell.
    std::function<int32_t(uint32_t ms)> waitUntilDone;
    // Cuts the speech off.
    std::function<void()> purge;
};
// A new voice, or null when the speech engine is not available.
using SpeechVoiceFactory = std::function<std::unique_ptr<SpeechVoice>()>;

// Runs `start`, the call that makes a job's sound begin, unless the job has been cancelled;
// false (and `start` not run) when it has. Empty: `start` runs unchecked.
using StartGuard = std::function<bool(const std::function<void()>& start)>;

constexpr uint32_t kMciPollMs = 40;
constexpr uint32_t kSpeechPollMs = 50;

SpeechOutcome StoppedOutcome();

// Plays the clip at path under the alias number; stops when counter moves off generation
// or after timeoutMs. The "play" command goes through the guard.
SpeechOutcome PlayClipWithMci(const std::wstring& path, uint32_t aliasNumber, const LiveAudio& live,
                              const std::atomic<int32_t>& counter, int32_t generation, uint32_t timeoutMs,
                              const MciDevice& mci, const PlaybackClock& clock,
                              const StartGuard& startGuard = nullptr);

// Speaks text with the named voice (empty: the default voice). The speak call goes
// through the guard.
SpeechOutcome SpeakWithVoice(const std::string& voiceName, const std::string& text, const LiveAudio& live,
                             const std::atomic<int32_t>& counter, int32_t generation, uint32_t timeoutMs,
                             const SpeechVoiceFactory& makeVoice, const PlaybackClock& clock,
                             const StartGuard& startGuard = nullptr);

}  // namespace training
}  // namespace sv
