#include "training/win32/surface_audio.h"

#include <cmath>
#include <cstdio>
#include <thread>
#include <utility>

#include "base/audit_log.h"
#include "base/file_io.h"
#include "base/text_encoding.h"
#include "training/voice_choice.h"
#include "training/win32/audio_rules.h"

namespace sv {
namespace training {
namespace {

// Process-wide, so clips of two surfaces never share a file or an alias.
std::atomic<uint32_t> clipNumbers{0};
std::atomic<uint32_t> aliasNumbers{0};

}  // namespace

void LoadAudioSettings(const std::string& path, double& volume, bool& muted) {
    if (!IsRegularFile(path)) return;
    std::string text;
    if (!ReadWholeFile(path, text)) return;
    ReadAudioSettings(text, volume, muted);
}

bool SaveAudioSettings(const std::string& path, double volume, bool muted) {
    std::lock_guard<std::mutex> lock(SettingsFileMutex());
    std::string text;
    const bool exists = IsRegularFile(path);
    if (exists && !ReadWholeFile(path, text)) return false;
    std::optional<std::string> updated = AudioSettingsText(text, exists, volume, muted);
    if (!updated) return false;
    return WriteTextFile(path, *updated);
}

SurfaceAudio::SurfaceAudio(AudioDevices devices, std::string settingsPath, uint32_t waitSlackMs)
    : devices_(std::move(devices)),
      settingsPath_(std::move(settingsPath)),
      worker_(devices_.threadStart, devices_.threadEnd, waitSlackMs) {
    LoadAudioSettings(settingsPath_, storedVolume_, storedMuted_);
    live_.volume.store(storedVolume_);
    live_.muted.store(storedMuted_);
}

SurfaceAudio::~SurfaceAudio() { Stop(); }

void SurfaceAudio::Cancel() { worker_.Cancel(); }
void SurfaceAudio::BeginSession(const std::string& session) { worker_.BeginSession(session); }
void SurfaceAudio::EndSession() { worker_.EndSession(); }
void SurfaceAudio::Stop() { worker_.Stop(); }

std::vector<VoiceInfo> SurfaceAudio::ListVoices(bool refresh) {
    std::lock_guard<std::mutex> lock(voicesMutex_);
    if (refresh || !voicesLoaded_) {
        std::vector<VoiceInfo> fresh;
        // A thread of its own: the enumeration needs a multi-threaded COM apartment,
        // whatever apartment the caller is in.
        std::thread enumerate([&] {
            if (devices_.enumerateVoices) fresh = devices_.enumerateVoices();
        });
        enumerate.join();
        voices_ = std::move(fresh);
        voicesLoaded_ = true;
    }
    return voices_;
}

SpeechOutcome SurfaceAudio::Speak(const SpeechRequest& request, uint32_t timeoutMs) {
    VoiceChoice choice = ChooseVoice(ListVoices(false), request.voice, request.culture);
    SpeechOutcome outcome;
    if (!choice.found) {
        outcome.error = choice.error;
        return outcome;
    }
    if (live_.muted.load()) {
        outcome.muted = true;
        outcome.voice = choice.voice.name;
        return outcome;
    }
    const std::string voice = choice.voice.name;
    const std::string text = request.text;
    return worker_.Run(
        [this, voice, text, timeoutMs](const std::atomic<int32_t>& counter, int32_t generation) {
            return SpeakWithVoice(voice, text, live_, counter, generation, timeoutMs, devices_.makeVoice,
                                  devices_.clock);
        },
        timeoutMs, request.session);
}

SpeechOutcome SurfaceAudio::PlayAudio(const AudioClipRequest& request, uint32_t timeoutMs) {
    SpeechOutcome outcome;
    if (live_.muted.load()) {
        outcome.muted = true;
        return outcome;
    }
    const std::string folder = JoinDataPath(devices_.tempDir, kClipFolder);
    EnsureDirectory(folder);
    const std::string path =
        JoinDataPath(folder, ClipFileName(devices_.processId, clipNumbers.fetch_add(1) + 1, request.extension));
    static const std::vector<uint8_t> kNoBytes;
    const std::vector<uint8_t>& bytes = request.bytes ? *request.bytes : kNoBytes;
    if (!WriteFileAtomically(path, std::string(bytes.begin(), bytes.end()))) {
        outcome.error = "cannot write the audio clip";
        return outcome;
    }
    const std::wstring widePath = Utf8ToUtf16(path);
    outcome = worker_.Run(
        [this, widePath, timeoutMs](const std::atomic<int32_t>& counter, int32_t generation) {
            SpeechOutcome played = PlayClipWithMci(widePath, aliasNumbers.fetch_add(1) + 1, live_, counter,
                                                   generation, timeoutMs, devices_.mci, devices_.clock);
            // A waiter that timed out could not remove the file MCI still held open.
            _wremove(widePath.c_str());
            return played;
        },
        timeoutMs, request.session);
    _wremove(widePath.c_str());
    return outcome;
}

void SurfaceAudio::OnTraineeVolume(double volume, bool muted, bool persist) {
    live_.volume.store(volume);
    const bool wasMuted = live_.muted.exchange(muted);
    if (muted && !wasMuted) Cancel();
    if (!persist) return;
    storedVolume_ = volume;
    storedMuted_ = muted;
    SaveAudioSettings(settingsPath_, volume, muted);
    WriteAuditLine("training",
                   "trainee set volume=" + std::to_string(std::lround(volume * 100)) +
                       " muted=" + (muted ? "True" : "False"),
                   "");
}

}  // namespace training
}  // namespace sv
