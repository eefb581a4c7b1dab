#include "session/screen/stream_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "session/controller_set.h"
#include "session/screen/screen_capture.h"
#include "session/screen/tile_encoder.h"
#include "svt1_reader.h"
#include "test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr int kW = 1280;
constexpr int kH = 720;
const char* const kTilesOn = R"({"type":"stream-mode","tiles":true})";
const char* const kTilesOff = R"({"type":"stream-mode","tiles":false})";

// A stream over a controller set, with a fake screen, JPEG encoder and send path: the
// screen is a buffer the test paints, a "JPEG" names its size, and everything sent is
// recorded. Send() plays the part of the Host: it hands each message to the stream the
// way the dispatcher does, and changes the set the way a join or a leave does.
class StreamFixture : public ::testing::Test {
protected:
    void SetUp() override {
        screen.assign(static_cast<size_t>(kW) * kH * 4, 0);
        for (size_t i = 0; i < screen.size(); ++i) screen[i] = static_cast<uint8_t>(i * 13 + (i >> 11));
        capture = [this](sv::ScreenFrame& frame) { return FakeCapture(frame); };
        encodeFrame = sv_test::FakeFrameJpeg;
        sv::StreamController::Seams seams;
        seams.sendText = [this](const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex);
            texts.push_back(text);
            changed.notify_all();
        };
        seams.sendBinary = [this](const uint8_t* data, size_t n) {
            std::lock_guard<std::mutex> lock(mutex);
            ++binaryAttempts;
            changed.notify_all();
            if (!relayOk) return false;
            binaries.emplace_back(data, data + n);
            return true;
        };
        seams.screenSize = [] { return std::make_pair(kW, kH); };
        seams.captureScreen = [this](sv::ScreenFrame& frame) { return capture(frame); };
        seams.encodeJpegFrame = [this](const uint8_t* px, int32_t w, int32_t h, uint32_t q) {
            return encodeFrame(px, w, h, q);
        };
        seams.encodeJpegRect = [](const uint8_t*, int32_t, int32_t, int32_t x, int32_t y, int32_t w, int32_t h,
                                  uint32_t) {
            std::vector<uint8_t> out = {'R'};
            for (int32_t v : {x, y, w, h}) sv::AppendU32Le(out, static_cast<uint32_t>(v));
            return out;
        };
        seams.stopping = [this] {
            ++loopTurns;
            return stopping.load();
        };
        seams.steadyNowNs = [this] {
            const int64_t frozen = frozenNs.load();
            return frozen >= 0 ? frozen : RealNowNs();
        };
        stream = std::make_unique<sv::StreamController>(controllers, std::move(seams));
    }
    void TearDown() override {
        SetFlag(holdCaptures, false);
        // As the Host goes: frame requests and the stream end, then the rest.
        stopping.store(true);
        stream->Shutdown();
        stream.reset();
    }

    bool FakeCapture(sv::ScreenFrame& frame) {
        int now = ++inCapture;
        int seen = maxInCapture.load();
        while (now > seen && !maxInCapture.compare_exchange_weak(seen, now)) {
        }
        std::function<void()> hook;
        {
            std::unique_lock<std::mutex> lock(mutex);
            ++captures;
            captureThreads.insert(sv_test::ThreadSerial());
            captureFrames.insert(&frame);
            changed.notify_all();
            changed.wait(lock, [this] { return !holdCaptures; });
            if (captures == hookAt) hook = std::move(duringCapture);
        }
        if (hook) hook();  // on the stream thread, inside its capture
        bool ok;
        {
            std::lock_guard<std::mutex> lock(mutex);
            ok = !failCaptures;
            if (ok) {
                frame.width = kW;
                frame.height = kH;
                frame.pixels = screen;
            }
        }
        --inCapture;
        return ok;
    }
    // Sets a flag the fakes read and wakes whoever waits on one.
    void SetFlag(bool& flag, bool value) {
        std::lock_guard<std::mutex> lock(mutex);
        flag = value;
        changed.notify_all();
    }
    // Runs `hook` inside capture number `n` from now (1: the next one).
    void DuringCapture(int n, std::function<void()> hook) {
        std::lock_guard<std::mutex> lock(mutex);
        hookAt = captures + n;
        duringCapture = std::move(hook);
    }

    // What the Host does for a join and a leave: the set first, then the stream.
    void Join(const std::string& id) {
        if (id.empty()) {
            controllers.JoinLanPeer();
        } else if (!controllers.Join(id)) {
            return;
        }
        stream->RequestKeyframe();
        stream->AnnounceMode();
        stream->Reconcile();
        stream->SendResolution();
    }
    void Leave(const std::string& id) {
        if (!(id.empty() ? controllers.LeaveLanPeer(controllers.Pass()) : controllers.Leave(id))) return;
        stream->AnnounceMode();
        stream->Reconcile();
    }
    // A message as the dispatcher hands it over; an unreadable member drops the message.
    void Send(const std::string& text) {
        const json m = json::parse(text);
        const std::string type = m.value("type", "");
        const std::string from = m.value("from", "");
        try {
            if (type == "controller-joined") Join(m.value("controllerId", ""));
            if (type == "peer-left") Leave(m.value("id", ""));
            if (type == "stream-control") stream->ApplyControl(m);
            if (type == "stream-prefs") stream->ApplyPrefs(from, m);
            if (type == "frame-ack") stream->ApplyFrameAck(from, m);
            if (type == "frame-request") stream->RequestSingleFrame();
        } catch (const std::exception&) {
        }
    }

    bool WaitFor(const std::function<bool()>& pred) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), pred);
    }
    size_t BinaryCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return binaries.size();
    }
    int CaptureCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return captures;
    }
    std::vector<uint8_t> Binary(size_t i) {
        std::lock_guard<std::mutex> lock(mutex);
        return binaries.at(i);
    }
    // Waits for binary number i (0-based) and returns it.
    std::vector<uint8_t> WaitBinary(size_t i) {
        EXPECT_TRUE(WaitFor([&] { return binaries.size() > i; })) << "binary #" << i;
        return BinaryCount() > i ? Binary(i) : std::vector<uint8_t>();
    }
    // Waits for the first binary after number *i that is not a repeat of it (a still
    // screen's frame goes out again after 3 s) and moves *i to it.
    std::vector<uint8_t> WaitNewFrame(size_t* i) {
        const std::vector<uint8_t> last = Binary(*i);
        for (size_t next = *i + 1;; ++next) {
            std::vector<uint8_t> b = WaitBinary(next);
            if (b.empty() || b != last) {
                *i = next;
                return b;
            }
        }
    }
    // Tiles mode is `tiles`, and "stream-mode" has said so `announced` times.
    void ExpectMode(bool tiles, size_t announced) {
        EXPECT_EQ(stream->TilesMode(), tiles);
        EXPECT_EQ(CountTexts(tiles ? kTilesOn : kTilesOff), announced);
    }
    size_t CountTexts(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
    }
    bool WaitText(const std::string& text, size_t count = 1) {
        return WaitFor([&] { return static_cast<size_t>(std::count(texts.begin(), texts.end(), text)) >= count; });
    }
    void Paint(int x, int y) {
        std::lock_guard<std::mutex> lock(mutex);
        screen[(static_cast<size_t>(y) * kW + x) * 4 + 2] ^= 0x80;
    }
    static int64_t RealNowNs() {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
    }
    // The stream's clock stands still from now on, and moves only when told.
    void FreezeClock() { frozenNs.store(RealNowNs()); }
    void AdvanceClock(int64_t ms) { frozenNs.fetch_add(ms * 1000000); }
    // Waits until the stream thread has gone round its loop `n` more times.
    void WaitLoopTurns(int n) {
        const int target = loopTurns.load() + n;
        ASSERT_TRUE(sv_test::WaitUntil([&] { return loopTurns.load() >= target; })) << "loop turns";
    }
    // Waits until `n` more binary sends have been tried.
    void WaitSendAttempts(int n) {
        std::unique_lock<std::mutex> lock(mutex);
        const int target = binaryAttempts + n;
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return binaryAttempts >= target; }))
            << "send attempts";
    }
    // Waits until the stream thread has captured `n` more frames.
    void WaitCaptures(int n) {
        int target = CaptureCount() + n;
        ASSERT_TRUE(WaitFor([&] { return captures >= target; })) << "captures";
    }

    static bool IsJpeg(const std::vector<uint8_t>& b, int w, int h) {
        return b.size() == 17 && b[0] == 'J' && sv_test::ReadU32Le(b, 1) == static_cast<uint32_t>(w) &&
               sv_test::ReadU32Le(b, 5) == static_cast<uint32_t>(h);
    }

    // One controller that takes tiles, stream running at 60 fps, first (whole) tile
    // frame received.
    sv_test::Svt1Frame EnterTilesMode(size_t* index) {
        Send(R"({"type":"stream-control","fps":60,"from":"c1"})");
        Send(R"({"type":"controller-joined","controllerId":"c1"})");
        Send(R"({"type":"stream-prefs","tiles":true,"from":"c1"})");
        EXPECT_TRUE(WaitText(kTilesOn));
        EXPECT_TRUE(stream->TilesMode());
        *index = WaitSvt1(0);
        return sv_test::ParseSvt1(Binary(*index));
    }
    // The index of the first SVT1 frame from binary number `from` on.
    size_t WaitSvt1(size_t from) {
        size_t i = from;
        for (;; ++i) {
            std::vector<uint8_t> b = WaitBinary(i);
            if (b.empty() || sv_test::IsSvt1(b)) return i;
        }
    }

    sv::ControllerSet controllers;
    std::unique_ptr<sv::StreamController> stream;
    std::atomic<bool> stopping{false};
    std::atomic<int> loopTurns{0};
    std::atomic<int64_t> frozenNs{-1};
    std::function<bool(sv::ScreenFrame&)> capture;
    std::function<std::vector<uint8_t>(const uint8_t*, int32_t, int32_t, uint32_t)> encodeFrame;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint8_t> screen;
    std::vector<std::string> texts;
    std::vector<std::vector<uint8_t>> binaries;
    int binaryAttempts = 0;
    int captures = 0;
    std::set<int> captureThreads;
    std::set<const sv::ScreenFrame*> captureFrames;
    int hookAt = 0;
    std::function<void()> duringCapture;
    bool relayOk = true;
    bool holdCaptures = false;
    bool failCaptures = false;
    std::atomic<int> inCapture{0};
    std::atomic<int> maxInCapture{0};
};

TEST_F(StreamFixture, FrameRequestWithTheStreamOffSendsResolutionAndAFullSizeFrame) {
    Send(R"({"type":"stream-prefs","maxWidth":320})");
    Send(R"({"type":"frame-request"})");
    std::vector<uint8_t> b = WaitBinary(0);
    EXPECT_TRUE(IsJpeg(b, kW, kH));
    EXPECT_EQ(sv_test::ReadU32Le(b, 9), 60u);  // the stream quality
    EXPECT_EQ(CountTexts(R"({"type":"resolution","width":1280,"height":720})"), 1u);
    EXPECT_FALSE(stream->Running());
}

TEST_F(StreamFixture, FrameRequestsKeepOneWorkerAndFoldTogether) {
    SetFlag(holdCaptures, true);
    Send(R"({"type":"frame-request"})");
    ASSERT_TRUE(WaitFor([&] { return captures >= 1; }));
    for (int i = 0; i < 50; ++i) Send(R"({"type":"frame-request"})");
    SetFlag(holdCaptures, false);
    // The one in flight, then one more for all that came meanwhile.
    WaitBinary(1);
    Send(R"({"type":"frame-request"})");
    WaitBinary(2);
    EXPECT_EQ(maxInCapture.load(), 1);
    // Nothing else is queued: the count stays put while one more request is served.
    Send(R"({"type":"frame-request"})");
    WaitBinary(3);
    EXPECT_EQ(CaptureCount(), 4);
    EXPECT_EQ(BinaryCount(), 4u);
}

// Each thread that captured kept frame-sized memory for good (the allocator's heap of
// that thread): every capture, of each stream start and each frame request, has to run
// on one thread into one frame.
TEST_F(StreamFixture, EveryCaptureAcrossRestartsAndFrameRequestsUsesOneThreadAndOneFrame) {
    FreezeClock();  // a still screen's frame is not sent again: every binary below is counted
    Send(R"({"type":"frame-request"})");
    WaitBinary(0);
    size_t next = 1;
    for (bool tiles : {false, true, false}) {
        Send(R"({"type":"controller-joined","controllerId":"c1"})");
        ASSERT_TRUE(stream->Running());
        if (tiles) {
            Send(R"({"type":"stream-prefs","tiles":true,"from":"c1"})");
            next = WaitSvt1(next) + 1;
        } else {
            WaitBinary(next++);
        }
        Send(R"({"type":"frame-request"})");  // while the stream runs
        WaitBinary(next++);
        Send(R"({"type":"peer-left","id":"c1"})");
        ASSERT_FALSE(stream->Running());
        Send(R"({"type":"frame-request"})");  // and while it is off
        WaitBinary(next++);
    }
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(captureThreads.size(), 1u);
    EXPECT_EQ(captureFrames.size(), 1u);
}

TEST_F(StreamFixture, WholeFramesAreScaledAndIdenticalOnesHeldBack) {
    Send(R"({"type":"stream-control","fps":60,"maxWidth":640})");  // no controller yet: no stream
    EXPECT_FALSE(stream->Running());
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    EXPECT_TRUE(stream->Running());
    ASSERT_TRUE(WaitText(R"({"type":"resolution","width":1280,"height":720})"));
    std::vector<uint8_t> first = WaitBinary(0);
    EXPECT_TRUE(IsJpeg(first, 640, 360));
    // A still screen: many captures, no second frame (for 3 s).
    WaitCaptures(15);
    EXPECT_EQ(BinaryCount(), 1u);
    Paint(4, 4);  // a pixel the scaler keeps
    size_t i = 0;
    std::vector<uint8_t> second = WaitNewFrame(&i);
    EXPECT_TRUE(IsJpeg(second, 640, 360));
    // stream-control takes any width from 320; stream-prefs above 3840 is ignored, so
    // the next change on the screen still comes at 400.
    Send(R"({"type":"stream-control","maxWidth":400,"from":"c1"})");
    EXPECT_TRUE(IsJpeg(WaitNewFrame(&i), 400, 225));
    Send(R"({"type":"stream-prefs","maxWidth":3841,"from":"c1"})");
    Paint(16, 16);  // a pixel the 400-wide frame keeps
    EXPECT_TRUE(IsJpeg(WaitNewFrame(&i), 400, 225));
    Send(R"({"type":"stream-prefs","maxWidth":800,"from":"c1"})");
    EXPECT_TRUE(IsJpeg(WaitNewFrame(&i), 800, 450));
    Send(R"({"type":"stream-control","maxWidth":5000,"quality":90,"from":"c1"})");
    std::vector<uint8_t> full = WaitNewFrame(&i);
    EXPECT_TRUE(IsJpeg(full, kW, kH));
    EXPECT_EQ(sv_test::ReadU32Le(full, 9), 90u);
}

TEST_F(StreamFixture, ASecondViewerOfAStillScreenGetsTheNextCapture) {
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    WaitBinary(0);
    int held = 0;
    {
        // Hold the stream inside a capture of the unchanged screen, then let c2 join.
        std::unique_lock<std::mutex> lock(mutex);
        holdCaptures = true;
        const int before = captures;
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return captures > before; }));
        held = captures;
    }
    Send(R"({"type":"controller-joined","controllerId":"c2"})");
    SetFlag(holdCaptures, false);
    // The held capture carries the keyframe c2 asked for: it goes out before the stream
    // takes its second capture after it, though nothing on the screen changed.
    ASSERT_TRUE(WaitFor([&] { return binaries.size() > 1 || captures >= held + 2; }));
    EXPECT_EQ(BinaryCount(), 2u);
    EXPECT_EQ(Binary(1), Binary(0));
}

TEST_F(StreamFixture, IdenticalWholeFrameGoesOutAgainAfterThreeSeconds) {
    FreezeClock();
    Send(R"({"type":"stream-control","fps":20,"from":"c1"})");
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    WaitBinary(0);
    AdvanceClock(2900);
    WaitCaptures(3);
    EXPECT_EQ(BinaryCount(), 1u);
    AdvanceClock(200);
    EXPECT_EQ(WaitBinary(1), Binary(0));
}

TEST_F(StreamFixture, OnOffStopsAndRestartsTheStreamThread) {
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    EXPECT_TRUE(stream->Running());
    WaitBinary(0);
    Send(R"({"type":"stream-control","on":false,"from":"c1"})");
    EXPECT_FALSE(stream->Running());
    // Stopping joined the thread: nothing captures any more.
    const int stoppedAt = CaptureCount();
    const size_t sentAt = BinaryCount();
    Send(R"({"type":"frame-request"})");  // a single frame still works while off
    WaitBinary(sentAt);
    EXPECT_EQ(CaptureCount(), stoppedAt + 1);
    // {"h264":true} alone does nothing; with "on" false it counts as off.
    Send(R"({"type":"stream-control","h264":true,"from":"c1"})");
    EXPECT_FALSE(stream->Running());
    Send(R"({"type":"stream-control","on":true,"from":"c1"})");
    EXPECT_TRUE(stream->Running());
    // Two for the join (the thread's and the join's own), one for the frame request,
    // one from the restarted thread.
    EXPECT_TRUE(WaitText(R"({"type":"resolution","width":1280,"height":720})", 4));
    Send(R"({"type":"stream-control","h264":true,"on":false,"from":"c1"})");
    EXPECT_FALSE(stream->Running());
}

TEST_F(StreamFixture, TilesNeedEveryWatchingController) {
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    Send(R"({"type":"controller-joined","controllerId":"c2"})");
    Send(R"({"type":"stream-prefs","tiles":true,"from":"c1"})");
    ExpectMode(false, 0);
    Send(R"({"type":"stream-prefs","tiles":true,"from":"c2"})");
    ExpectMode(true, 1);
    sv_test::Svt1Frame f = sv_test::ParseSvt1(Binary(WaitSvt1(0)));
    EXPECT_EQ(f.flag, 1);
    // One controller switching tiles off ends tiles mode.
    Send(R"({"type":"stream-prefs","tiles":false,"from":"c2"})");
    ExpectMode(false, 1);
    // A controller that switched the stream off no longer counts as watching.
    Send(R"({"type":"stream-control","on":false,"from":"c2"})");
    ExpectMode(true, 2);
}

TEST_F(StreamFixture, TileFramesCarryOnlyWhatChanged) {
    size_t i = 0;
    sv_test::Svt1Frame key = EnterTilesMode(&i);
    ASSERT_TRUE(key.valid);
    EXPECT_EQ(key.flag, 1);
    EXPECT_EQ(key.w, kW);
    EXPECT_EQ(key.h, kH);
    Paint(700, 100);  // tile (10, 1)
    sv_test::Svt1Frame f = sv_test::ParseSvt1(WaitBinary(i + 1));
    EXPECT_EQ(f.seq, key.seq + 1);
    EXPECT_EQ(f.flag, 0);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].x, 640);
    EXPECT_EQ(f.records[0].y, 64);
    EXPECT_EQ(f.records[0].w, 64);
    EXPECT_EQ(f.records[0].h, 64);
    // A still screen sends nothing at all.
    WaitCaptures(15);
    EXPECT_EQ(BinaryCount(), i + 2);
    // "lost" asks for a whole frame even though nothing changed.
    Send(R"({"type":"frame-ack","seq":1,"lost":true,"from":"c1"})");
    sv_test::Svt1Frame whole = sv_test::ParseSvt1(WaitBinary(i + 2));
    EXPECT_EQ(whole.flag, 1);
    EXPECT_EQ(whole.seq, f.seq + 1);
}

TEST_F(StreamFixture, AcknowledgementsHoldAndReleaseTileFrames) {
    FreezeClock();
    size_t i = 0;
    sv_test::Svt1Frame key = EnterTilesMode(&i);
    Paint(10, 10);
    sv_test::Svt1Frame f = sv_test::ParseSvt1(WaitBinary(i + 1));
    ASSERT_EQ(f.seq, key.seq + 1);
    // The controller acknowledges two frames behind: frames are held back up to 2 s.
    Send(R"({"type":"frame-ack","seq":)" + std::to_string(f.seq - 2) + R"(,"from":"c1"})");
    WaitLoopTurns(2);  // a capture begun before the acknowledgement has gone out by now
    Paint(10, 200);
    AdvanceClock(1900);
    WaitLoopTurns(10);
    EXPECT_EQ(BinaryCount(), i + 2);
    AdvanceClock(200);
    sv_test::Svt1Frame g = sv_test::ParseSvt1(WaitBinary(i + 2));
    // Catching up releases the stream at once: the clock stands still.
    Send(R"({"type":"frame-ack","seq":)" + std::to_string(g.seq) + R"(,"from":"c1"})");
    Paint(300, 300);
    WaitBinary(i + 3);
}

TEST_F(StreamFixture, FailedSendsKeepTilesAndTheKeyframeRequest) {
    size_t i = 0;
    sv_test::Svt1Frame key = EnterTilesMode(&i);
    SetFlag(relayOk, false);
    Paint(10, 10);
    WaitSendAttempts(3);
    SetFlag(relayOk, true);
    // The unsent tile arrives, under the next unused sequence number.
    sv_test::Svt1Frame f = sv_test::ParseSvt1(WaitBinary(i + 1));
    EXPECT_EQ(f.seq, key.seq + 1);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].x, 0);
    EXPECT_EQ(f.records[0].y, 0);
    // A keyframe asked for while sends fail is still owed when they work again.
    SetFlag(relayOk, false);
    // (Acknowledging the last frame, so the flow control does not hold the stream.)
    Send(R"({"type":"frame-ack","lost":true,"seq":)" + std::to_string(f.seq) + R"(,"from":"c1"})");
    WaitSendAttempts(2);
    SetFlag(relayOk, true);
    sv_test::Svt1Frame k = sv_test::ParseSvt1(WaitBinary(i + 2));
    EXPECT_EQ(k.flag, 1);
    EXPECT_EQ(k.seq, f.seq + 1);
}

TEST_F(StreamFixture, CaptureFailuresAreRetried) {
    SetFlag(failCaptures, true);
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    WaitCaptures(3);
    EXPECT_EQ(BinaryCount(), 0u);
    SetFlag(failCaptures, false);
    EXPECT_TRUE(IsJpeg(WaitBinary(0), kW, kH));
}

TEST_F(StreamFixture, ConcurrentStartsAndStopsNeverBreak) {
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 60; ++i) {
                switch ((i + t) % 4) {
                    case 0: stream->Start(); break;
                    case 1: stream->Stop(); break;
                    case 2: Send(R"({"type":"stream-control","on":false,"from":"c1"})"); break;
                    default: Send(R"({"type":"stream-control","on":true,"from":"c1"})"); break;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    stream->Stop();
    EXPECT_FALSE(stream->Running());
    stream->Start();
    EXPECT_TRUE(stream->Running());
    WaitCaptures(1);
}

TEST_F(StreamFixture, UnreadableMembersDropOnlyThatMessage) {
    for (const char* bad : {R"({"type":"stream-control","on":"yes"})", R"({"type":"stream-control","on":null})",
                            R"({"type":"stream-prefs","tiles":7})", R"({"type":"frame-ack","seq":"x"})",
                            R"({"type":"frame-ack","lost":"x"})", R"({"type":"stream-control","fps":[1]})",
                            R"({"type":"stream-prefs","maxWidth":{"a":1}})"}) {
        Send(bad);
    }
    EXPECT_FALSE(stream->Running());
    Send(R"({"type":"frame-request"})");
    EXPECT_TRUE(IsJpeg(WaitBinary(0), kW, kH));
}

TEST_F(StreamFixture, LastControllerLeavingStopsTheStream) {
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    Send(R"({"type":"controller-joined","controllerId":"c2"})");
    Send(R"({"type":"peer-left","id":"c1"})");
    EXPECT_TRUE(stream->Running());
    Send(R"({"type":"peer-left","id":"c2"})");
    EXPECT_FALSE(stream->Running());
}

TEST_F(StreamFixture, LostWithAnUnreadableSeqStillAsksForAKeyframe) {
    size_t i = 0;
    sv_test::Svt1Frame key = EnterTilesMode(&i);
    ASSERT_TRUE(key.valid);
    WaitCaptures(5);
    ASSERT_EQ(BinaryCount(), i + 1);
    // The "seq" cannot be read as a number, yet the loss report has been made.
    Send(R"({"type":"frame-ack","seq":"x","lost":true,"from":"c1"})");
    sv_test::Svt1Frame whole = sv_test::ParseSvt1(WaitBinary(i + 1));
    EXPECT_EQ(whole.flag, 1);
    EXPECT_EQ(whole.seq, key.seq + 1);
}

TEST_F(StreamFixture, AStillScreenIsEncodedOnceAndAChangeAgain) {
    std::atomic<int> encodes{0};
    const auto encode = encodeFrame;
    encodeFrame = [&encodes, encode](const uint8_t* px, int32_t w, int32_t h, uint32_t q) {
        ++encodes;
        return encode(px, w, h, q);
    };
    // The width is set before anybody watches: a frame encoded at the full width before
    // the setting arrived would count as an encode of its own.
    Send(R"({"type":"stream-control","fps":60,"maxWidth":640,"from":"c1"})");
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    const std::vector<uint8_t> first = WaitBinary(0);
    ASSERT_TRUE(IsJpeg(first, 640, 360));
    WaitCaptures(10);
    EXPECT_EQ(encodes.load(), 1);
    Paint(4, 4);  // even row and column: a pixel the 640-wide frame keeps
    size_t i = 0;
    WaitNewFrame(&i);  // an unchanged frame may be repeated first, after 3 s
    WaitCaptures(10);
    EXPECT_EQ(encodes.load(), 2);
}

TEST_F(StreamFixture, TheCaptureSurfaceGoesWhenTheStreamStops) {
    if (sv::GetScreenSize().first < 64) GTEST_SKIP() << "no display";
    sv::ScreenFrame* streamFrame = nullptr;
    uint64_t serial = 0;
    capture = [&](sv::ScreenFrame& frame) {
        const bool ok = sv::CaptureScreenArea(frame, 0, 0, 64, 32);
        std::lock_guard<std::mutex> lock(mutex);
        streamFrame = &frame;
        serial = sv::CaptureSurfaceSerial(frame);
        ++captures;
        changed.notify_all();
        return ok;
    };
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    WaitCaptures(2);
    Send(R"({"type":"stream-control","on":false,"from":"c1"})");
    ASSERT_FALSE(stream->Running());
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_NE(streamFrame, nullptr);
    EXPECT_NE(serial, 0u);
    EXPECT_EQ(sv::CaptureSurfaceSerial(*streamFrame), 0u);
    EXPECT_TRUE(streamFrame->pixels.empty());
}

TEST_F(StreamFixture, IdlessLeaverGivesUpItsTilePreference) {
    // A LAN peer without an id keeps its tile preference under "lan"; when it leaves,
    // that entry must go, or the two remaining viewers would be counted as two tile
    // acceptors while only one of them accepts tiles.
    Join("");
    Join("a");
    Join("b");
    Send(R"({"type":"stream-prefs","tiles":true,"from":""})");
    Send(R"({"type":"stream-prefs","tiles":true,"from":"a"})");
    EXPECT_EQ(CountTexts(kTilesOn), 0u);
    Leave("");
    EXPECT_EQ(controllers.Count(), 2);
    EXPECT_EQ(CountTexts(kTilesOn), 0u);
    // b accepting tiles now makes every remaining viewer an acceptor.
    Send(R"({"type":"stream-prefs","tiles":true,"from":"b"})");
    EXPECT_EQ(CountTexts(kTilesOn), 1u);
    Leave("a");
    Leave("b");
}

TEST_F(StreamFixture, ALeaversLatePreferenceCannotHoldTheNextViewerInTiles) {
    Join("c1");
    Leave("c1");
    Send(R"({"type":"stream-prefs","tiles":true,"from":"c1"})");     // handled after its "peer-left"
    Send(R"({"type":"stream-prefs","tiles":true,"from":"ghost"})");  // never joined
    Join("c2");
    EXPECT_FALSE(stream->TilesMode());
    EXPECT_EQ(CountTexts(kTilesOn), 0u);
    Send(R"({"type":"stream-prefs","tiles":true,"from":"c2"})");
    EXPECT_TRUE(stream->TilesMode());
}

TEST_F(StreamFixture, AJoinRacingALeaveLeavesTheStreamRunningForTheViewer) {
    Join("a");
    for (int round = 0; round < 50; ++round) {
        std::thread join([this] { Join("b"); });
        std::thread leave([this] { Leave("a"); });
        join.join();
        leave.join();
        ASSERT_TRUE(stream->Running()) << "round " << round;
        Join("a");
        Leave("b");
        ASSERT_TRUE(stream->Running());
    }
    Leave("a");
    EXPECT_FALSE(stream->Running());
}

// The keyframe that entering tiles mode asks for is owed to the first tile frame, even
// when a whole frame already on its way takes the request first.
TEST_F(StreamFixture, TilesModeEnteredDuringAWholeFrameStillStartsWithAWholeTileFrame) {
    size_t i = 0;
    EnterTilesMode(&i);
    Send(R"({"type":"stream-prefs","tiles":false,"from":"c1"})");
    ASSERT_FALSE(stream->TilesMode());
    // The second capture from now belongs to a whole-frame iteration: tiles come back
    // while it captures. The tile encoder still holds this very screen, so only a
    // keyframe makes a tile frame at all.
    DuringCapture(2, [this] { stream->ApplyPrefs("c1", json{{"tiles", true}}); });
    const size_t first = BinaryCount();
    ASSERT_TRUE(WaitText(kTilesOn, 2));
    const size_t at = WaitSvt1(first);
    ASSERT_LT(at, BinaryCount());
    EXPECT_EQ(sv_test::ParseSvt1(Binary(at)).flag, 1);
}

// A viewer who joins while a tile frame is on its way ends tiles mode; the keyframe it
// asked for is owed to the next whole frame, not spent on that tile frame.
TEST_F(StreamFixture, AViewerJoiningDuringATileFrameGetsTheNextWholeFrame) {
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    WaitBinary(0);  // a whole frame of this screen went out just now
    Send(R"({"type":"stream-control","fps":60,"from":"c1"})");
    Send(R"({"type":"stream-prefs","tiles":true,"from":"c1"})");
    const size_t key = WaitSvt1(1);
    int joinedAt = 0;
    DuringCapture(2, [this, &joinedAt] {
        {
            std::lock_guard<std::mutex> lock(mutex);
            joinedAt = captures;
        }
        Join("c2");
    });
    ASSERT_TRUE(WaitText(kTilesOff));
    // The capture after the join's is a whole-frame one: its frame goes out at once,
    // though the screen is the one sent as a whole frame before tiles began.
    ASSERT_TRUE(WaitFor([&] {
        for (size_t n = key + 1; n < binaries.size(); ++n) {
            if (IsJpeg(binaries[n], kW, kH)) return true;
        }
        return joinedAt != 0 && captures >= joinedAt + 2;
    }));
    bool jpeg = false;
    for (size_t n = key + 1; n < BinaryCount(); ++n) jpeg = jpeg || IsJpeg(Binary(n), kW, kH);
    EXPECT_TRUE(jpeg);
}

}  // namespace
