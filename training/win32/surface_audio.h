#pragma once
// The surface's sound: the Speak, PlayAudio and ListVoices slots, the trainee's volume and
// mute (live, and kept in the settings file), over the audio worker and device seams.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "training/training_records.h"
#include "training/win32/audio_worker.h"
#include "training/win32/playback_jobs.h"

namespace sv {
namespace training {

// Everything that touches the machine's sound, speech and time.
struct AudioDevices {
    MciDevice mci;
    SpeechVoiceFactory makeVoice;
    // The installed voices; runs on a thread of its own.
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
    SurfaceAudio(AudioDevices devices, std::string settingsPath, uint32_t waitSlackMs = 5000);
    ~SurfaceAudio();

    SpeechOutcome Speak(const SpeechRequest& request, uint32_t timeoutMs);
    SpeechOutcome PlayAudio(const AudioClipRequest& request, uint32_t timeoutMs);
    std::vector<VoiceInfo> ListVoices(bool refresh);

    // The banner's volume control; persist writes the settings file and the audit line.
    void OnTraineeVolume(double volume, bool muted, bool persist);
    // Jobs of this session may play; those of any other are refused.
    void BeginSession(const std::string& session);
    // No session's jobs play any more; what plays stops and what waits is dropped.
    void EndSession();
    // Stops what plays and drops what waits.
    void Cancel();
    // Stops the worker for good (teardown).
    void Stop();

    bool IsMuted() const { return live_.muted.load(); }
    double GetVolume() const { return live_.volume.load(); }

private:
    AudioDevices devices_;
    const std::string settingsPath_;
    double storedVolume_ = 1.0;
    bool storedMuted_ = false;
    LiveAudio live_;
    AudioWorker worker_;
    std::mutex voicesMutex_;
    std::vector<VoiceInfo> voices_;
    bool voicesLoaded_ = false;
};

// The audio keys of the settings file at path: loading changes only what the file holds
// with the right types; saving keeps every other key, under the settings file's lock, and
// leaves a file that is not a JSON object alone. Both report nothing.
void LoadAudioSettings(const std::string& path, double& volume, bool& muted);
bool SaveAudioSettings(const std::string& path, double volume, bool muted);

}  // namespace training
}  // namespace sv
