#pragma once
// The surface's sound: the Speak, PlayAudio and ListVoices slots, the trainee's volume and
// mute (live, and kept in the settings file), over the audio worker and device seams.
// Jobs and the voice enumeration hold what they use themselves, so one that is let go past
// its bound never reaches a destroyed SurfaceAudio.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/annotated_mutex.h"
#include "base/detachable_thread.h"
#include "training/training_records.h"
#include "training/win32/audio_worker.h"
#include "training/win32/playback_jobs.h"

namespace sv {
namespace training {

// Everything that touches the machine's sound, speech and time.
struct AudioDevices {
    MciDevice mci;
    SpeechVoiceFactory makeVoice;
    // The installed voices; runs on a thread of its own, which is let go when it does not
    // answer in time.
    std::function<std::vector<VoiceInfo>()> enumerateVoices;
    PlaybackClock clock;
    // Run on the worker thread around its loop.
    std::function<void()> threadStart;
    std::function<void()> threadEnd;
    // The temporary directory (UTF-8) that holds the clip folder.
    std::string tempDir;
    uint32_t processId = 0;
};

class SurfaceAudio {
public:
    // settingsPath: the settings file whose two audio keys give the starting volume and mute.
    SurfaceAudio(AudioDevices devices, std::string settingsPath, AudioLimits limits = {});
    ~SurfaceAudio();

    SpeechOutcome Speak(const SpeechRequest& request, uint32_t timeoutMs);
    SpeechOutcome PlayAudio(const AudioClipRequest& request, uint32_t timeoutMs);
    // The installed voices; the last list known (empty before the first) when the
    // enumeration does not answer within its bound.
    std::vector<VoiceInfo> ListVoices(bool refresh) SV_EXCLUDES(voicesMutex_);

    // The banner's volume control; persist writes the settings file and the audit line.
    void OnTraineeVolume(double volume, bool muted, bool persist);
    // Jobs of this session may play; those of any other are refused.
    void BeginSession(const std::string& session);
    // No session's jobs play any more; what plays stops and what waits is dropped.
    void EndSession();
    // Stops what plays and drops what waits.
    void Cancel();
    // Stops the worker for good (teardown), within its bound; true when it was joined.
    bool Stop();

    bool IsMuted() const { return live_->muted.load(); }
    double GetVolume() const { return live_->volume.load(); }

private:
    struct VoiceEnumeration {
        Mutex mutex;
        CondVar finished;
        bool done SV_GUARDED_BY(mutex) = false;
        std::vector<VoiceInfo> voices SV_GUARDED_BY(mutex);
    };
    // The fresh list, or nothing when the enumeration did not answer in time.
    std::optional<std::vector<VoiceInfo>> FetchVoices(bool refresh) SV_EXCLUDES(voicesMutex_);

    const std::shared_ptr<const AudioDevices> devices_;
    const std::string settingsPath_;
    const AudioLimits limits_;
    double storedVolume_ = 1.0;
    bool storedMuted_ = false;
    const std::shared_ptr<LiveAudio> live_;
    AudioWorker worker_;
    // Taken before an enumeration's own lock.
    Mutex voicesMutex_;
    std::vector<VoiceInfo> voices_ SV_GUARDED_BY(voicesMutex_);
    bool voicesLoaded_ SV_GUARDED_BY(voicesMutex_) = false;
    // At most one enumeration runs: callers that come while it runs wait for the same one.
    std::shared_ptr<VoiceEnumeration> enumeration_ SV_GUARDED_BY(voicesMutex_);
    DetachableThread enumerationThread_ SV_GUARDED_BY(voicesMutex_);
};

// The audio keys of the settings file at path: loading changes only what the file holds
// with the right types; saving keeps every other key, under the settings file's lock, and
// leaves a file that is not a JSON object alone. Both report nothing.
void LoadAudioSettings(const std::string& path, double& volume, bool& muted);
bool SaveAudioSettings(const std::string& path, double volume, bool muted);

}  // namespace training
}  // namespace sv
