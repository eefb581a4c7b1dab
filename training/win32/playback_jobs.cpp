#include "training/win32/playback_jobs.h"

#include "base/text_encoding.h"
#include "training/win32/audio_rules.h"

namespace sv {
namespace training {

SpeechOutcome StoppedOutcome() {
    SpeechOutcome o;
    o.error = "stopped";
    return o;
}

namespace {

int32_t Elapsed(const PlaybackClock& clock, int64_t start) {
    int64_t ms = clock.steadyMs() - start;
    if (ms < 0) return 0;
    if (ms > INT32_MAX) return INT32_MAX;
    return static_cast<int32_t>(ms);
}

bool Start(const StartGuard& guard, const std::function<void()>& start) {
    if (!guard) {
        start();
        return true;
    }
    return guard(start);
}

}  // namespace

SpeechOutcome PlayClipWithMci(const std::wstring& path, uint32_t aliasNumber, const LiveAudio& live,
                              const std::atomic<int32_t>& counter, int32_t generation, uint32_t timeoutMs,
                              const MciDevice& mci, const PlaybackClock& clock, const StartGuard& startGuard) {
    const std::wstring alias = MciAlias(aliasNumber);
    SpeechOutcome outcome;
    MciReply opened = mci.send(MciOpenCommand(path, alias, true));
    // Without the device type MCI picks the device by the file's extension (wav, wma).
    if (opened.error != 0) opened = mci.send(MciOpenCommand(path, alias, false));
    if (opened.error != 0) {
        outcome.error = "the audio could not be opened: " + mci.errorText(opened.error);
        return outcome;
    }
    mci.send(MciTimeFormatCommand(alias));
    const int32_t length = ParseMciCount(mci.send(MciLengthCommand(alias)).text);
    int32_t level = MciVolumeLevel(live.volume.load(), live.muted.load());
    mci.send(MciVolumeCommand(alias, level));
    MciReply played;
    if (!Start(startGuard, [&] { played = mci.send(MciPlayCommand(alias)); })) {
        mci.send(MciCloseCommand(alias));
        return StoppedOutcome();
    }
    if (played.error != 0) {
        mci.send(MciCloseCommand(alias));
        outcome.error = "the audio could not be played: " + mci.errorText(played.error);
        return outcome;
    }
    const int64_t start = clock.steadyMs();
    bool stopped = false;
    for (;;) {
        clock.pump(kMciPollMs);
        if (counter.load() != generation) {
            stopped = true;
            break;
        }
        int32_t now = MciVolumeLevel(live.volume.load(), live.muted.load());
        if (now != level) {
            level = now;
            mci.send(MciVolumeCommand(alias, level));
        }
        if (!MciStillPlaying(mci.send(MciModeCommand(alias)).text)) break;
        if (Elapsed(clock, start) > static_cast<int64_t>(timeoutMs)) {
            stopped = true;
            break;
        }
    }
    mci.send(MciStopCommand(alias));
    mci.send(MciCloseCommand(alias));
    outcome.played = !stopped;
    if (stopped) outcome.error = "stopped";
    outcome.durationMs = ClipDurationMs(clock.steadyMs() - start, length);
    return outcome;
}

SpeechOutcome SpeakWithVoice(const std::string& voiceName, const std::string& text, const LiveAudio& live,
                             const std::atomic<int32_t>& counter, int32_t generation, uint32_t timeoutMs,
                             const SpeechVoiceFactory& makeVoice, const PlaybackClock& clock,
                             const StartGuard& startGuard) {
    SpeechOutcome outcome;
    outcome.voice = voiceName;
    std::unique_ptr<SpeechVoice> voice = makeVoice ? makeVoice() : nullptr;
    if (!voice) {
        outcome.error = "SAPI is not available";
        return outcome;
    }
    if (!voiceName.empty()) voice->select(voiceName);
    int32_t volume = SapiVolumeLevel(live.volume.load(), live.muted.load());
    voice->setVolume(volume);
    const int64_t start = clock.steadyMs();
    const std::wstring wide = Utf8ToUtf16(text);
    int32_t hr = 0;
    if (!Start(startGuard, [&] { hr = voice->speak(wide); })) {
        outcome.error = "stopped";
        return outcome;
    }
    if (hr < 0) {
        outcome.error = "SAPI could not speak (hr=" + std::to_string(hr) + ")";
        return outcome;
    }
    bool stopped = false;
    int32_t waited = 0;
    // Only "still speaking" keeps the wait going: an engine that fails ends it at once.
    while ((waited = voice->waitUntilDone(kSpeechPollMs)) == 1) {
        clock.pump(0);
        if (counter.load() != generation) {
            stopped = true;
            break;
        }
        int32_t now = SapiVolumeLevel(live.volume.load(), live.muted.load());
        if (now != volume) {
            volume = now;
            voice->setVolume(volume);
        }
        if (Elapsed(clock, start) > static_cast<int64_t>(timeoutMs)) {
            stopped = true;
            break;
        }
    }
    const bool failed = !stopped && waited < 0;
    if (stopped || failed) voice->purge();
    outcome.played = !stopped && !failed;
    if (stopped) outcome.error = "stopped";
    if (failed) outcome.error = "SAPI failed while speaking (hr=" + std::to_string(waited) + ")";
    outcome.durationMs = Elapsed(clock, start);
    return outcome;
}

}  // namespace training
}  // namespace sv
