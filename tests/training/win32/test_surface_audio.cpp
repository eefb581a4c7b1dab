#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/file_io.h"
#include "base/text_encoding.h"
#include "call_hold.h"
#include "test_support.h"
#include "training/win32/audio_rules.h"
#include "training/win32/audio_worker.h"
#include "training/win32/playback_jobs.h"
#include "training/win32/surface_audio.h"

namespace {

using namespace sv::training;
using nlohmann::json;

// A clock that moves only when a job pumps; the pump can be held at its first call so a
// test acts while a job is known to be playing.
struct FakeClock {
    std::atomic<int64_t> now{0};
    std::mutex mutex;
    std::condition_variable cv;
    bool holdFirstPump = false;
    bool inPump = false;
    bool released = false;
    // Moves the counter at this time, as a trainee's mute or an ending session would.
    int64_t cancelAt = -1;
    std::atomic<int32_t>* counter = nullptr;

    PlaybackClock Clock() {
        return {[this] { return now.load(); },
                [this](uint32_t ms) {
                    {
                        std::unique_lock<std::mutex> lock(mutex);
                        if (holdFirstPump && !released) {
                            inPump = true;
                            cv.notify_all();
                            cv.wait_for(lock, std::chrono::seconds(10), [this] { return released; });
                        }
                    }
                    now.fetch_add(ms);
                    if (counter && cancelAt >= 0 && now.load() >= cancelAt) counter->fetch_add(1);
                }};
    }
    bool WaitInPump() {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(10), [this] { return inPump; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
        cv.notify_all();
    }
};

using Hold = sv_test::CallHold;

// MCI that records every command; a clip "plays" until the clock reaches endAt.
struct FakeMci {
    std::mutex mutex;
    std::vector<std::wstring> commands;
    FakeClock* clock = nullptr;
    int64_t endAt = 0;
    std::wstring length = L"3000";
    uint32_t openTypedError = 0, openPlainError = 0, playError = 0;
    Hold* hold = nullptr;  // held at the command's first word

    MciDevice Device() {
        return {[this](const std::wstring& c) {
                    if (hold) hold->Pass(sv::Utf16ToUtf8(c.substr(0, c.find(L' '))));
                    std::lock_guard<std::mutex> lock(mutex);
                    commands.push_back(c);
                    MciReply r;
                    if (c.rfind(L"open", 0) == 0) r.error = c.find(L"mpegvideo") != std::wstring::npos ? openTypedError : openPlainError;
                    if (c.rfind(L"play", 0) == 0) r.error = playError;
                    if (c.find(L" length") != std::wstring::npos) r.text = length;
                    if (c.find(L" mode") != std::wstring::npos) r.text = clock->now.load() < endAt ? L"playing" : L"stopped";
                    return r;
                },
                [](uint32_t e) { return "err" + std::to_string(e); }};
    }
    std::vector<std::wstring> Commands() {
        std::lock_guard<std::mutex> lock(mutex);
        return commands;
    }
    int Count(const std::wstring& prefix) {
        int n = 0;
        for (const std::wstring& c : Commands()) n += c.rfind(prefix, 0) == 0;
        return n;
    }
};

// A voice that speaks until the clock reaches doneAt.
struct FakeVoice {
    std::mutex mutex;
    std::vector<std::string> calls;
    FakeClock* clock = nullptr;
    int64_t doneAt = 0;
    int32_t speakResult = 0;
    int32_t waitError = 0;  // a failed HRESULT from the wait; 0 = none
    bool available = true;
    Hold* hold = nullptr;  // held at the call's first word

    void Add(const std::string& c) {
        if (hold) hold->Pass(c.substr(0, c.find(' ')));
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(c);
    }
    SpeechVoiceFactory Factory() {
        return [this]() -> std::unique_ptr<SpeechVoice> {
            if (!available) return nullptr;
            auto v = std::make_unique<SpeechVoice>();
            v->select = [this](const std::string& n) { Add("select " + n); };
            v->setVolume = [this](int32_t n) { Add("volume " + std::to_string(n)); };
            v->speak = [this](const std::wstring& t) {
                Add("speak " + std::to_string(t.size()));
                return speakResult;
            };
            v->waitUntilDone = [this](uint32_t ms) -> int32_t {
                if (waitError != 0) return waitError;
                clock->now.fetch_add(ms);
                return clock->now.load() >= doneAt ? 0 : 1;
            };
            v->purge = [this] { Add("purge"); };
            return v;
        };
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
};

TEST(AudioRules, CommandStringsAndNames) {
    const std::wstring a = MciAlias(7);
    struct Case {
        std::wstring got, want;
    } cases[] = {
        {a, L"svclip7"},
        {MciOpenCommand(L"C:\\t\\clip 1.mp3", a, true), L"open \"C:\\t\\clip 1.mp3\" type mpegvideo alias svclip7"},
        {MciOpenCommand(L"C:\\t\\c.wav", a, false), L"open \"C:\\t\\c.wav\" alias svclip7"},
        {MciTimeFormatCommand(a), L"set svclip7 time format milliseconds"},
        {MciLengthCommand(a), L"status svclip7 length"},
        {MciVolumeCommand(a, 400), L"setaudio svclip7 volume to 400"},
        {MciPlayCommand(a), L"play svclip7"},
        {MciModeCommand(a), L"status svclip7 mode"},
        {MciStopCommand(a), L"stop svclip7"},
        {MciCloseCommand(a), L"close svclip7"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
    EXPECT_EQ(ClipFileName(4242, 3, "mp3"), "clip-4242-3.mp3");
    EXPECT_EQ(ClipFileName(1, 1, ""), "clip-1-1.");
}

TEST(AudioRules, NumbersFromMciAndTheTrainee) {
    EXPECT_EQ(ParseMciCount(L"3000"), 3000);
    EXPECT_EQ(ParseMciCount(L"3000ms"), 0);
    EXPECT_EQ(ParseMciCount(L""), 0);
    EXPECT_EQ(ParseMciCount(L"99999999999999999999"), INT32_MAX);
    for (const wchar_t* m : {L"playing", L"seeking", L"not ready"}) EXPECT_TRUE(MciStillPlaying(m)) << m;
    for (const wchar_t* m : {L"stopped", L"paused", L"Playing", L""}) EXPECT_FALSE(MciStillPlaying(m)) << m;

    struct Level {
        double volume;
        bool muted;
        int32_t mci, sapi;
    } levels[] = {{0.4, false, 400, 40}, {0.4, true, 0, 0}, {1.7, false, 1000, 100},
                  {-0.2, false, 0, 0},   {0.005, false, 5, 1}, {0.0005, false, 1, 0}};
    for (const Level& l : levels) {
        EXPECT_EQ(MciVolumeLevel(l.volume, l.muted), l.mci) << l.volume;
        EXPECT_EQ(SapiVolumeLevel(l.volume, l.muted), l.sapi) << l.volume;
    }
    EXPECT_EQ(ClipDurationMs(3120, 3000), 3000);
    EXPECT_EQ(ClipDurationMs(1000, 3000), 1000);
    EXPECT_EQ(ClipDurationMs(500, 0), 500);

    EXPECT_EQ(ParseVoiceLanguage(L"421"), 0x421u);
    EXPECT_EQ(ParseVoiceLanguage(L"409;9"), 0x409u);
    EXPECT_EQ(ParseVoiceLanguage(L""), std::nullopt);
    EXPECT_EQ(ParseVoiceLanguage(L"zz"), std::nullopt);
    EXPECT_EQ(ParseVoiceLanguage(L"123456789"), std::nullopt);
}

TEST(AudioRules, SettingsKeys) {
    struct Read {
        const char* text;
        double volume;
        bool muted;
    } reads[] = {
        {R"({"TrainingVolume":1.7,"TrainingMuted":true})", 1.0, true},
        {R"({"TrainingVolume":0,"TrainingMuted":false})", 0.0, false},
        {R"({"TrainingVolume":"loud","TrainingMuted":true})", 0.5, false},  // reading ends at the bad volume
        {R"({"TrainingMuted":1})", 0.5, false},
        {R"([{"TrainingVolume":0.1}])", 0.5, false},
        {"{\"TrainingVolume\":", 0.5, false},
    };
    for (const Read& r : reads) {
        double volume = 0.5;
        bool muted = false;
        ReadAudioSettings(r.text, volume, muted);
        EXPECT_EQ(volume, r.volume) << r.text;
        EXPECT_EQ(muted, r.muted) << r.text;
    }
    auto kept = AudioSettingsText(R"({"password":"abc234","Theme":"dark"})", true, 0.4, true);
    ASSERT_TRUE(kept);
    EXPECT_EQ(json::parse(*kept),
              json::parse(R"({"password":"abc234","Theme":"dark","TrainingVolume":0.4,"TrainingMuted":true})"));
    EXPECT_EQ(kept->find('\n'), std::string::npos);
    EXPECT_EQ(AudioSettingsText("", false, 1.0, false), R"({"TrainingMuted":false,"TrainingVolume":1.0})");
    EXPECT_FALSE(AudioSettingsText("[1,2]", true, 1.0, false));
    EXPECT_FALSE(AudioSettingsText("{broken", true, 1.0, false));
}

class MciJob : public ::testing::Test {
protected:
    SpeechOutcome Play(uint32_t timeoutMs = 600000) {
        mci.clock = &clock;
        return PlayClipWithMci(L"C:\\t\\c.mp3", 5, live, counter, 0, timeoutMs, mci.Device(), clock.Clock());
    }
    FakeClock clock;
    FakeMci mci;
    LiveAudio live;
    std::atomic<int32_t> counter{0};
};

TEST_F(MciJob, PlaysToTheEndAndReportsTheClipLength) {
    live.volume = 0.4;
    mci.endAt = 3120;
    SpeechOutcome o = Play();
    EXPECT_TRUE(o.played);
    EXPECT_EQ(o.error, "");
    EXPECT_EQ(o.durationMs, 3000);
    std::vector<std::wstring> c = mci.Commands();
    ASSERT_GE(c.size(), 8u);
    EXPECT_EQ(std::vector<std::wstring>(c.begin(), c.begin() + 5),
              (std::vector<std::wstring>{L"open \"C:\\t\\c.mp3\" type mpegvideo alias svclip5",
                                         L"set svclip5 time format milliseconds", L"status svclip5 length",
                                         L"setaudio svclip5 volume to 400", L"play svclip5"}));
    EXPECT_EQ(c[c.size() - 2], L"stop svclip5");
    EXPECT_EQ(c.back(), L"close svclip5");
    EXPECT_EQ(mci.Count(L"status svclip5 mode"), 3120 / 40);
}

TEST_F(MciJob, SecondOpenWithoutTypeThenBothFailing) {
    mci.openTypedError = 263;
    mci.endAt = 80;
    EXPECT_TRUE(Play().played);
    EXPECT_EQ(mci.Commands()[1], L"open \"C:\\t\\c.mp3\" alias svclip5");

    FakeMci failing;
    failing.clock = &clock;
    failing.openTypedError = 263;
    failing.openPlainError = 266;
    SpeechOutcome o = PlayClipWithMci(L"x.ogg", 1, live, counter, 0, 1000, failing.Device(), clock.Clock());
    EXPECT_FALSE(o.played);
    EXPECT_EQ(o.error, "the audio could not be opened: err266");
    EXPECT_EQ(failing.Commands().size(), 2u) << "nothing is sent to an alias that never opened";
}

TEST_F(MciJob, RefusedPlayClosesTheAlias) {
    mci.playError = 277;
    SpeechOutcome o = Play();
    EXPECT_EQ(o.error, "the audio could not be played: err277");
    EXPECT_EQ(mci.Commands().back(), L"close svclip5");
}

TEST_F(MciJob, CancelAndTimeOutStopWithWhatHadPlayed) {
    mci.endAt = 1000000;
    clock.counter = &counter;
    clock.cancelAt = 1000;
    SpeechOutcome o = Play();
    EXPECT_FALSE(o.played);
    EXPECT_EQ(o.error, "stopped");
    EXPECT_EQ(o.durationMs, 1000);
    EXPECT_EQ(mci.Commands().back(), L"close svclip5");

    FakeMci slow;
    slow.clock = &clock;
    slow.endAt = INT64_MAX;
    clock.cancelAt = -1;
    int64_t start = clock.now.load();
    SpeechOutcome t = PlayClipWithMci(L"c", 6, live, counter, counter.load(), 400, slow.Device(), clock.Clock());
    EXPECT_EQ(t.error, "stopped");
    EXPECT_EQ(clock.now.load() - start, 440) << "the first poll past the time-out stops it";
}

TEST_F(MciJob, VolumeChangesAreSentWhilePlaying) {
    mci.endAt = 200;
    live.muted = true;
    std::thread unmute([&] {
        // The pump is held at its first call, so the change lands during playback.
        clock.WaitInPump();
        live.muted = false;
        live.volume = 0.25;
        clock.Release();
    });
    clock.holdFirstPump = true;
    Play();
    unmute.join();
    EXPECT_EQ(mci.Count(L"setaudio svclip5 volume to 0"), 1);
    EXPECT_EQ(mci.Count(L"setaudio svclip5 volume to 250"), 1);
}

TEST(SpeechJob, SpeaksWithTheVoiceAndItsVolume) {
    FakeClock clock;
    FakeVoice voice;
    voice.clock = &clock;
    voice.doneAt = 500;
    LiveAudio live;
    live.volume = 0.4;
    std::atomic<int32_t> counter{3};
    SpeechOutcome o = SpeakWithVoice("Andika", "Halo", live, counter, 3, 60000, voice.Factory(), clock.Clock());
    EXPECT_TRUE(o.played);
    EXPECT_EQ(o.voice, "Andika");
    EXPECT_EQ(o.durationMs, 500);
    EXPECT_EQ(voice.Calls(), (std::vector<std::string>{"select Andika", "volume 40", "speak 4"}));
}

TEST(SpeechJob, FailuresAndCancel) {
    FakeClock clock;
    FakeVoice voice;
    voice.clock = &clock;
    LiveAudio live;
    std::atomic<int32_t> counter{0};
    voice.available = false;
    EXPECT_EQ(SpeakWithVoice("", "x", live, counter, 0, 1000, voice.Factory(), clock.Clock()).error,
              "SAPI is not available");
    voice.available = true;
    voice.speakResult = static_cast<int32_t>(0x80070057);
    EXPECT_EQ(SpeakWithVoice("", "x", live, counter, 0, 1000, voice.Factory(), clock.Clock()).error,
              "SAPI could not speak (hr=-2147024809)");
    voice.speakResult = 0;
    voice.waitError = static_cast<int32_t>(0x80004005);  // the engine fails: no wait until the time-out
    SpeechOutcome failed = SpeakWithVoice("", "x", live, counter, 0, 100000, voice.Factory(), clock.Clock());
    EXPECT_EQ(failed.error, "SAPI failed while speaking (hr=-2147467259)");
    EXPECT_FALSE(failed.played);
    EXPECT_EQ(clock.now.load(), 0);
    voice.waitError = 0;
    voice.doneAt = INT64_MAX;
    clock.counter = &counter;
    clock.cancelAt = 0;  // the first poll sees the move
    SpeechOutcome o = SpeakWithVoice("", "x", live, counter, 0, 100000, voice.Factory(), clock.Clock());
    EXPECT_EQ(o.error, "stopped");
    EXPECT_FALSE(o.played);
    EXPECT_EQ(voice.Calls().back(), "purge");
}

// A job that plays until the test lets it finish (played) or its counter moves (stopped).
struct HeldJob {
    std::atomic<bool> finish{false};
    std::atomic<int> started{0};
    AudioWorker::Job Job() {
        return [this](const std::atomic<int32_t>& counter, int32_t generation, const StartGuard&) {
            started.fetch_add(1);
            while (counter.load() == generation && !finish.load()) std::this_thread::yield();
            const bool played = counter.load() == generation;
            SpeechOutcome o = played ? SpeechOutcome{} : StoppedOutcome();
            o.played = played;
            return o;
        };
    }
};

// A job that only counts its runs.
AudioWorker::Job Counting(std::atomic<int>& runs) {
    return [&runs](const std::atomic<int32_t>&, int32_t, const StartGuard&) {
        runs.fetch_add(1);
        return SpeechOutcome{};
    };
}

TEST(AudioWorkerQueue, AWaiterThatGivesUpAbandonsOnlyItsOwnJob) {
    AudioWorker worker(nullptr, nullptr, AudioLimits{0});
    HeldJob longJob;
    std::atomic<int> ranShort{0};
    SpeechOutcome longOutcome;
    std::thread first([&] { longOutcome = worker.Run(longJob.Job(), 600000); });
    while (longJob.started.load() == 0) std::this_thread::yield();
    SpeechOutcome shortOutcome = worker.Run(Counting(ranShort), 0);
    EXPECT_EQ(shortOutcome.error, "timed out");
    longJob.finish = true;
    first.join();
    EXPECT_TRUE(longOutcome.played) << "the long one plays to its end";
    SpeechOutcome after = worker.Run([](const std::atomic<int32_t>&, int32_t, const StartGuard&) { return SpeechOutcome{}; }, 1000);
    EXPECT_TRUE(after.error.empty()) << "the worker has moved on";
    EXPECT_EQ(ranShort.load(), 0) << "the abandoned job never plays";
}

TEST(AudioWorkerQueue, TheEndOfASessionStopsAllOfItAndAdmitsNoMore) {
    AudioWorker worker(nullptr, nullptr, AudioLimits{0});
    worker.BeginSession("s1");
    HeldJob playing;
    std::atomic<int> ranQueued{0};
    const AudioWorker::Job count = Counting(ranQueued);
    SpeechOutcome first, queued;
    std::thread a([&] { first = worker.Run(playing.Job(), 600000, "s1"); });
    while (playing.started.load() == 0) std::this_thread::yield();
    std::thread b([&] { queued = worker.Run(count, 600000, "s1"); });
    // Queued behind the playing one, or turned away if the end comes first: never played.
    worker.EndSession();
    a.join();
    b.join();
    EXPECT_EQ(first.error, "stopped");
    EXPECT_EQ(queued.error, "stopped");
    struct Case {
        const char* begun;  // nullptr: none since the end
        const char* asks;
        bool plays;
    } cases[] = {{nullptr, "s1", false}, {"s2", "s1", false}, {"s2", "s2", true}, {"s2", "", true}};
    for (const Case& c : cases) {
        if (c.begun) worker.BeginSession(c.begun);
        const int before = ranQueued.load();
        SpeechOutcome o = worker.Run(count, 1000, c.asks);
        EXPECT_EQ(ranQueued.load() - before, c.plays ? 1 : 0) << c.asks;
        EXPECT_EQ(o.error, c.plays ? "" : "stopped") << c.asks;
    }
}

TEST(AudioWorkerQueue, ThrowsBecomeErrorsAndAStoppedWorkerRunsNothing) {
    AudioWorker worker(nullptr, nullptr, AudioLimits{0});
    SpeechOutcome ok;
    ok.played = true;
    EXPECT_TRUE(worker.Run([&](const std::atomic<int32_t>&, int32_t, const StartGuard&) { return ok; }, 1000).played);
    SpeechOutcome thrown = worker.Run(
        [](const std::atomic<int32_t>&, int32_t, const StartGuard&) -> SpeechOutcome {
            throw std::runtime_error("device gone");
        }, 1000);
    EXPECT_EQ(thrown.error, "device gone");
    worker.Stop();
    EXPECT_EQ(worker.Run([&](const std::atomic<int32_t>&, int32_t, const StartGuard&) { return ok; }, 1000).error, "stopped");
}

class SurfaceAudioTest : public ::testing::Test {
protected:
    AudioDevices Devices() {
        mci.clock = &clock;
        voice.clock = &clock;
        AudioDevices d;
        d.mci = mci.Device();
        d.makeVoice = voice.Factory();
        d.enumerateVoices = [this] {
            enumerations.fetch_add(1);
            return voices;
        };
        d.clock = clock.Clock();
        d.tempDir = dir.Path();
        d.processId = 77;
        return d;
    }
    std::string Settings() const { return dir.Path() + "\\host-ui.json"; }
    std::string ClipFolder() const { return dir.Path() + "\\sorvane-training"; }

    sv_test::ScratchDir dir;
    FakeClock clock;
    FakeMci mci;
    FakeVoice voice;
    std::vector<VoiceInfo> voices;
    std::atomic<int> enumerations{0};
};

TEST_F(SurfaceAudioTest, VoiceChoiceAndTheCache) {
    voices = {{"Microsoft David", "en-US", "sapi"}};
    SurfaceAudio audio(Devices(), Settings());
    SpeechOutcome none = audio.Speak({"Halo", "", "id-ID"}, 1000);
    EXPECT_FALSE(none.played);
    EXPECT_EQ(none.error,
              "No id-ID voice is installed on this PC (it has: Microsoft David [en-US]). Send pre-rendered id-ID "
              "speech with play_audio instead (the text is already in the chat).");
    EXPECT_TRUE(voice.Calls().empty()) << "nothing queued";

    voices = {{"Microsoft David", "en-US", "sapi"}, {"Microsoft Andika", "id-ID", "sapi"}};
    audio.ListVoices(false);
    EXPECT_EQ(enumerations.load(), 1) << "the cached list is served";
    EXPECT_EQ(audio.ListVoices(true).size(), 2u);
    EXPECT_EQ(enumerations.load(), 2);
    voice.doneAt = 100;
    SpeechOutcome spoken = audio.Speak({"Halo", "", "id-ID"}, 1000);
    EXPECT_TRUE(spoken.played);
    EXPECT_EQ(spoken.voice, "Microsoft Andika");
    EXPECT_EQ(voice.Calls().front(), "select Microsoft Andika");
}

TEST_F(SurfaceAudioTest, ClipsGetTheirOwnFilesAndAliasesAndAreRemoved) {
    SurfaceAudio audio(Devices(), Settings());
    auto bytes = std::make_shared<const std::vector<uint8_t>>(std::vector<uint8_t>{'I', 'D', '3', 0, 1});
    std::vector<std::wstring> opened;
    for (int i = 0; i < 2; ++i) {
        mci.endAt = clock.now.load() + 80;
        EXPECT_TRUE(audio.PlayAudio({bytes, "mp3"}, 10000).played);
    }
    for (const std::wstring& c : mci.Commands()) {
        if (c.rfind(L"open", 0) == 0) opened.push_back(c);
    }
    ASSERT_EQ(opened.size(), 2u);
    // open "<dir>\sorvane-training\clip-77-<n>.mp3" type mpegvideo alias svclip<m>
    auto number = [](const std::wstring& c, const std::wstring& after, wchar_t end) {
        size_t at = c.find(after) + after.size();
        return std::stoul(c.substr(at, c.find(end, at) - at));
    };
    EXPECT_NE(opened[0].find(sv::Utf8ToUtf16(ClipFolder()) + L"\\clip-77-"), std::wstring::npos);
    EXPECT_EQ(number(opened[1], L"clip-77-", L'.'), number(opened[0], L"clip-77-", L'.') + 1);
    EXPECT_EQ(number(opened[1] + L" ", L"alias svclip", L' '), number(opened[0] + L" ", L"alias svclip", L' ') + 1);
    EXPECT_TRUE(sv_test::ListFiles(ClipFolder()).empty());
}

TEST_F(SurfaceAudioTest, MutedAndUnwritableClipsPlayNothing) {
    {
        AudioDevices d = Devices();
        d.tempDir = dir.Path() + "\\missing\\<bad>";
        SurfaceAudio audio(d, Settings());
        EXPECT_EQ(audio.PlayAudio({nullptr, "mp3"}, 1000).error, "cannot write the audio clip");
    }
    sv::WriteTextFile(Settings(), R"({"TrainingMuted":true,"TrainingVolume":1.7})");
    voices = {{"Andika", "id-ID", "sapi"}};
    SurfaceAudio audio(Devices(), Settings());
    EXPECT_TRUE(audio.IsMuted());
    EXPECT_EQ(audio.GetVolume(), 1.0);
    SpeechOutcome clip = audio.PlayAudio({nullptr, "wav"}, 1000);
    EXPECT_TRUE(clip.muted);
    EXPECT_FALSE(sv::PathExists(ClipFolder()));
    SpeechOutcome speech = audio.Speak({"Halo", "", ""}, 1000);
    EXPECT_TRUE(speech.muted);
    EXPECT_EQ(speech.voice, "Andika");
    EXPECT_TRUE(mci.Commands().empty());
    EXPECT_TRUE(voice.Calls().empty());
}

TEST_F(SurfaceAudioTest, MutingDuringAClipStopsItAndPersistsOnlyWhenAsked) {
    sv::WriteTextFile(Settings(), R"({"password":"abc234"})");
    SurfaceAudio audio(Devices(), Settings());
    mci.endAt = INT64_MAX;
    clock.holdFirstPump = true;
    SpeechOutcome outcome;
    std::thread player([&] { outcome = audio.PlayAudio({nullptr, "mp3"}, 600000); });
    ASSERT_TRUE(clock.WaitInPump());
    audio.OnTraineeVolume(0.3, false, false);  // a drag not yet released
    EXPECT_EQ(json::parse(sv_test::ReadFile(Settings())), json::parse(R"({"password":"abc234"})"));
    audio.OnTraineeVolume(0.3, true, true);
    clock.Release();
    player.join();
    EXPECT_EQ(outcome.error, "stopped");
    EXPECT_TRUE(audio.IsMuted());
    EXPECT_EQ(json::parse(sv_test::ReadFile(Settings())),
              json::parse(R"({"password":"abc234","TrainingVolume":0.3,"TrainingMuted":true})"));
}

// A job the end reaches after it began but before its sound starts must not start it:
// the fake holds each job just short of its start call while the session ends.
TEST_F(SurfaceAudioTest, NoSoundStartsAfterTheEndReturned) {
    voices = {{"Andika", "id-ID", "sapi"}};
    struct Case {
        const char* name;
        std::string holdAt;  // the last call before the sound starts
        bool clip;
    } cases[] = {{"speech", "volume", false}, {"clip", "setaudio", true}};
    for (const Case& c : cases) {
        Hold hold;
        hold.at = c.holdAt;
        voice.hold = c.clip ? nullptr : &hold;
        mci.hold = c.clip ? &hold : nullptr;
        SurfaceAudio audio(Devices(), Settings());
        audio.BeginSession("s1");
        SpeechOutcome outcome;
        std::thread caller([&] {
            outcome = c.clip ? audio.PlayAudio({nullptr, "mp3", "s1"}, 600000)
                             : audio.Speak({"Halo", "", "id-ID", "s1"}, 600000);
        });
        ASSERT_TRUE(hold.WaitReached()) << c.name;
        audio.EndSession();
        hold.Release();
        caller.join();
        EXPECT_EQ(outcome.error, "stopped") << c.name;
        std::vector<std::string> calls = voice.Calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "speak 4"), 0) << c.name;
        EXPECT_EQ(mci.Count(L"play"), 0) << c.name;
        EXPECT_EQ(mci.Count(L"close"), c.clip ? 1 : 0) << "the opened clip is closed again";
    }
}

TEST_F(SurfaceAudioTest, AFileThatIsNoObjectIsNeitherReadNorOverwritten) {
    sv::WriteTextFile(Settings(), R"([{"TrainingMuted":true}])");
    SurfaceAudio audio(Devices(), Settings());
    EXPECT_FALSE(audio.IsMuted());
    audio.OnTraineeVolume(0.5, true, true);
    EXPECT_EQ(sv_test::ReadFile(Settings()), R"([{"TrainingMuted":true}])");
}

}  // namespace
