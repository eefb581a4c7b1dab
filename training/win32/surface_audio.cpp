#include "training/win32/surface_audio.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>

#include "base/audit_log.h"
#include "base/file_io.h"
#include "base/settings_file.h"
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
    const SettingsText settings = SettingsFile(path).Read();
    if (settings.readable) ReadAudioSettings(settings.text, volume, muted);
}

bool SaveAudioSettings(const std::string& path, double volume, bool muted) {
    return SettingsFile(path).Update([&](const SettingsText& settings) -> std::optional<std::string> {
        if (settings.exists && !settings.readable) return std::nullopt;
        return AudioSettingsText(settings.text, settings.exists, volume, muted);
    });
}

SurfaceAudio::SurfaceAudio(AudioDevices devices, std::string settingsPath, AudioLimits limits)
    : devices_(std::make_shared<const AudioDevices>(std::move(devices))),
      settingsPath_(std::move(settingsPath)),
      limits_(limits),
      live_(std::make_shared<LiveAudio>()),
      worker_(devices_->threadStart, devices_->threadEnd, limits) {
    LoadAudioSettings(settingsPath_, storedVolume_, storedMuted_);
    live_->volume.store(storedVolume_);
    live_->muted.store(storedMuted_);
}

SurfaceAudio::~SurfaceAudio() {
    Stop();
    MutexLock lock(voicesMutex_);
    if (!enumerationThread_.Joinable()) return;
    bool done = false;
    {
        MutexLock finished(enumeration_->mutex);
        done = enumeration_->done;
    }
    // A hung enumeration is let go: it holds only the devices and its own result.
    if (done) {
        enumerationThread_.Join();
    } else {
        enumerationThread_.LetGo();
    }
}

void SurfaceAudio::Cancel() { worker_.Cancel(); }
void SurfaceAudio::BeginSession(const std::string& session) { worker_.BeginSession(session); }
void SurfaceAudio::EndSession() { worker_.EndSession(); }
bool SurfaceAudio::Stop() { return worker_.Stop(); }

std::optional<std::vector<VoiceInfo>> SurfaceAudio::FetchVoices(bool refresh) {
    std::shared_ptr<VoiceEnumeration> enumeration;
    {
        MutexLock lock(voicesMutex_);
        if (!refresh && voicesLoaded_) return voices_;
        if (!enumeration_) {
            // A thread of its own: the enumeration needs a multi-threaded COM apartment,
            // whatever apartment the caller is in.
            auto fresh = std::make_shared<VoiceEnumeration>();
            enumerationThread_ = DetachableThread([fresh, devices = devices_] {
                std::vector<VoiceInfo> voices;
                try {
                    if (devices->enumerateVoices) voices = devices->enumerateVoices();
                } catch (...) {
                    // No list is an empty list.
                }
                MutexLock finished(fresh->mutex);
                fresh->voices = std::move(voices);
                fresh->done = true;
                fresh->finished.NotifyAll();
            });
            enumeration_ = fresh;
        }
        enumeration = enumeration_;
    }
    std::vector<VoiceInfo> voices;
    {
        VoiceEnumeration* e = enumeration.get();
        MutexLock finished(e->mutex);
        if (!e->finished.WaitFor(finished, std::chrono::milliseconds(limits_.voiceListMs),
                                 [e]() SV_REQUIRES(e->mutex) { return e->done; })) {
            return std::nullopt;  // it stays the one running; the next caller waits for it again
        }
        voices = e->voices;
    }
    MutexLock lock(voicesMutex_);
    if (enumeration_ == enumeration) {
        enumeration_.reset();
        enumerationThread_.Join();  // its body has returned
        voices_ = voices;
        voicesLoaded_ = true;
    }
    return voices;
}

std::vector<VoiceInfo> SurfaceAudio::ListVoices(bool refresh) {
    if (std::optional<std::vector<VoiceInfo>> fresh = FetchVoices(refresh)) return *fresh;
    MutexLock lock(voicesMutex_);
    return voices_;
}

SpeechOutcome SurfaceAudio::Speak(const SpeechRequest& request, uint32_t timeoutMs) {
    SpeechOutcome outcome;
    std::optional<std::vector<VoiceInfo>> voices = FetchVoices(false);
    if (!voices) {
        outcome.error = "the installed voices could not be listed in time";
        return outcome;
    }
    VoiceChoice choice = ChooseVoice(*voices, request.voice, request.culture);
    if (!choice.found) {
        outcome.error = choice.error;
        return outcome;
    }
    if (live_->muted.load()) {
        outcome.muted = true;
        outcome.voice = choice.voice.name;
        return outcome;
    }
    const std::string voice = choice.voice.name;
    const std::string text = request.text;
    return worker_.Run(
        [live = live_, devices = devices_, voice, text, timeoutMs](
            const std::atomic<int32_t>& counter, int32_t generation, const StartGuard& guard) {
            return SpeakWithVoice(voice, text, *live, counter, generation, timeoutMs, devices->makeVoice,
                                  devices->clock, guard);
        },
        timeoutMs, request.session);
}

SpeechOutcome SurfaceAudio::PlayAudio(const AudioClipRequest& request, uint32_t timeoutMs) {
    SpeechOutcome outcome;
    if (live_->muted.load()) {
        outcome.muted = true;
        return outcome;
    }
    const std::string folder = JoinDataPath(devices_->tempDir, kClipFolder);
    EnsureDirectory(folder);
    const std::string path =
        JoinDataPath(folder, ClipFileName(devices_->processId, clipNumbers.fetch_add(1) + 1, request.extension));
    static const std::vector<uint8_t> kNoBytes;
    const std::vector<uint8_t>& bytes = request.bytes ? *request.bytes : kNoBytes;
    if (!WriteFileAtomically(path, std::string(bytes.begin(), bytes.end()))) {
        outcome.error = "cannot write the audio clip";
        return outcome;
    }
    const std::wstring widePath = Utf8ToUtf16(path);
    outcome = worker_.Run(
        [live = live_, devices = devices_, widePath, timeoutMs](
            const std::atomic<int32_t>& counter, int32_t generation, const StartGuard& guard) {
            SpeechOutcome played = PlayClipWithMci(widePath, aliasNumbers.fetch_add(1) + 1, *live, counter,
                                                   generation, timeoutMs, devices->mci, devices->clock, guard);
            // A waiter that timed out could not remove the file MCI still held open.
            _wremove(widePath.c_str());
            return played;
        },
        timeoutMs, request.session);
    _wremove(widePath.c_str());
    return outcome;
}

void SurfaceAudio::OnTraineeVolume(double volume, bool muted, bool persist) {
    live_->volume.store(volume);
    const bool wasMuted = live_->muted.exchange(muted);
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
