#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/audit_log.h"
#include "session/host.h"
#include "session/host_test_support.h"
#include "session/screen/screen_capture.h"
#include "session/screen/tile_encoder.h"
#include "svt1_reader.h"
#include "test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr int kW = 1280;
constexpr int kH = 720;

// A Host whose screen, JPEG encoder and relay are fakes: the screen is a buffer the
// test paints, a "JPEG" names its size, and everything sent is recorded.
class StreamFixture : public ::testing::Test {
protected:
    void SetUp() override {
        screen.assign(static_cast<size_t>(kW) * kH * 4, 0);
        for (size_t i = 0; i < screen.size(); ++i) screen[i] = static_cast<uint8_t>(i * 13 + (i >> 11));
        sv::SetAuditDirectory(dir.Path());
        sv::HostOptions options = sv_test::TestHostOptions(dir.Path());
        options.relayUrl = "ws://127.0.0.1:1/";
        host = std::make_unique<sv::Host>(options);
        auto& p = host->PlatformSeams();
        p.sendRelayText = [this](const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex);
            texts.push_back(text);
            changed.notify_all();
            return true;
        };
        p.sendRelayBinary = [this](const uint8_t* data, size_t n) {
            std::lock_guard<std::mutex> lock(mutex);
            ++binaryAttempts;
            changed.notify_all();
            if (!relayOk) return false;
            binaries.emplace_back(data, data + n);
            binaryTimes.push_back(Clock::now());
            changed.notify_all();
            return true;
        };
        p.sendMediaBinary = [](const uint8_t*, size_t) { return false; };
        p.screenSize = [] { return std::make_pair(kW, kH); };
        p.captureScreen = [this](sv::ScreenFrame& frame) {
            int now = ++inCapture;
            int seen = maxInCapture.load();
            while (now > seen && !maxInCapture.compare_exchange_weak(seen, now)) {
            }
            std::unique_lock<std::mutex> lock(mutex);
            ++captures;
            changed.notify_all();
            changed.wait(lock, [this] { return !holdCaptures; });
            bool ok = !failCaptures;
            if (ok) {
                frame.width = kW;
                frame.height = kH;
                frame.pixels = screen;
            }
            --inCapture;
            return ok;
        };
        p.encodeJpegFrame = sv_test::FakeFrameJpeg;
        p.encodeJpegRect = [](const uint8_t*, int32_t, int32_t, int32_t x, int32_t y, int32_t w, int32_t h,
                              uint32_t) {
            std::vector<uint8_t> out = {'R'};
            for (int32_t v : {x, y, w, h}) sv::AppendU32Le(out, static_cast<uint32_t>(v));
            return out;
        };
    }
    void TearDown() override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            holdCaptures = false;
            changed.notify_all();
        }
        host.reset();
        sv::SetAuditDirectory("");
    }

    bool WaitFor(const std::function<bool()>& pred, double seconds = 10) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::duration<double>(seconds), pred);
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
    std::vector<uint8_t> WaitBinary(size_t i, double seconds = 10) {
        EXPECT_TRUE(WaitFor([&] { return binaries.size() > i; }, seconds)) << "binary #" << i;
        return BinaryCount() > i ? Binary(i) : std::vector<uint8_t>();
    }
    size_t CountTexts(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        size_t n = 0;
        for (const auto& t : texts) n += t == text ? 1 : 0;
        return n;
    }
    bool WaitText(const std::string& text, size_t count = 1, double seconds = 10) {
        return WaitFor(
            [&] {
                size_t n = 0;
                for (const auto& t : texts) n += t == text ? 1 : 0;
                return n >= count;
            },
            seconds);
    }
    void Paint(int x, int y) {
        std::lock_guard<std::mutex> lock(mutex);
        screen[(static_cast<size_t>(y) * kW + x) * 4 + 2] ^= 0x80;
    }
    // Waits until the stream thread has captured `n` more frames.
    void WaitCaptures(int n) {
        int target = CaptureCount() + n;
        ASSERT_TRUE(WaitFor([&] { return captures >= target; })) << "captures";
    }
    void Send(const std::string& text) { host->RouteIncomingText(text); }

    static bool IsJpeg(const std::vector<uint8_t>& b, int w, int h) {
        return b.size() == 17 && b[0] == 'J' && sv_test::ReadU32Le(b, 1) == static_cast<uint32_t>(w) &&
               sv_test::ReadU32Le(b, 5) == static_cast<uint32_t>(h);
    }

    // Two controllers that both take tiles, stream running, first (whole) tile frame received.
    sv_test::Svt1Frame EnterTilesMode(size_t* index) {
        Send(R"({"type":"controller-joined","controllerId":"c1"})");
        Send(R"({"type":"stream-control","fps":60,"from":"c1"})");
        Send(R"({"type":"stream-prefs","tiles":true,"from":"c1"})");
        EXPECT_TRUE(WaitText(R"({"type":"stream-mode","tiles":true})"));
        EXPECT_TRUE(host->InTilesMode());
        // The first binary in tiles mode is SVT1 and whole.
        size_t i = 0;
        for (;; ++i) {
            std::vector<uint8_t> b = WaitBinary(i);
            if (b.empty()) break;
            if (sv_test::IsSvt1(b)) break;
        }
        *index = i;
        return sv_test::ParseSvt1(Binary(i));
    }

    sv_test::ScratchDir dir;
    std::unique_ptr<sv::Host> host;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint8_t> screen;
    std::vector<std::string> texts;
    std::vector<std::vector<uint8_t>> binaries;
    std::vector<Clock::time_point> binaryTimes;
    int binaryAttempts = 0;
    int captures = 0;
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
    EXPECT_FALSE(host->IsStreaming());
}

TEST_F(StreamFixture, FrameRequestsKeepOneWorkerAndFoldTogether) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        holdCaptures = true;
    }
    Send(R"({"type":"frame-request"})");
    ASSERT_TRUE(WaitFor([&] { return captures >= 1; }));
    for (int i = 0; i < 50; ++i) Send(R"({"type":"frame-request"})");
    {
        std::lock_guard<std::mutex> lock(mutex);
        holdCaptures = false;
        changed.notify_all();
    }
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

TEST_F(StreamFixture, WholeFramesAreScaledAndIdenticalOnesHeldBack) {
    Send(R"({"type":"stream-control","fps":60,"maxWidth":640})");  // no controller yet: no stream
    EXPECT_FALSE(host->IsStreaming());
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    EXPECT_TRUE(host->IsStreaming());
    ASSERT_TRUE(WaitText(R"({"type":"resolution","width":1280,"height":720})"));
    std::vector<uint8_t> first = WaitBinary(0);
    EXPECT_TRUE(IsJpeg(first, 640, 360));
    // A still screen: many captures, no second frame (for 3 s).
    WaitCaptures(15);
    EXPECT_EQ(BinaryCount(), 1u);
    Paint(4, 4);  // a pixel the scaler keeps
    std::vector<uint8_t> second = WaitBinary(1);
    EXPECT_TRUE(IsJpeg(second, 640, 360));
    EXPECT_NE(first, second);
    // stream-prefs above 3840 is ignored; stream-control takes any width from 320.
    Send(R"({"type":"stream-prefs","maxWidth":3841,"from":"c1"})");
    Send(R"({"type":"stream-control","maxWidth":400,"from":"c1"})");
    EXPECT_TRUE(IsJpeg(WaitBinary(2), 400, 225));
    Send(R"({"type":"stream-prefs","maxWidth":3841,"from":"c1"})");
    Send(R"({"type":"stream-prefs","maxWidth":800,"from":"c1"})");
    EXPECT_TRUE(IsJpeg(WaitBinary(3), 800, 450));
    Send(R"({"type":"stream-control","maxWidth":5000,"quality":90,"from":"c1"})");
    std::vector<uint8_t> full = WaitBinary(4);
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
    {
        std::lock_guard<std::mutex> lock(mutex);
        holdCaptures = false;
        changed.notify_all();
    }
    // The held capture carries the keyframe c2 asked for: it goes out before the stream
    // takes its second capture after it, though nothing on the screen changed.
    ASSERT_TRUE(WaitFor([&] { return binaries.size() > 1 || captures >= held + 2; }));
    EXPECT_EQ(BinaryCount(), 2u);
    EXPECT_EQ(Binary(1), Binary(0));
}

TEST_F(StreamFixture, IdenticalWholeFrameGoesOutAgainAfterThreeSeconds) {
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    Send(R"({"type":"stream-control","fps":20,"from":"c1"})");
    WaitBinary(0);
    Clock::time_point t0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        t0 = binaryTimes[0];
    }
    WaitBinary(1, 6);
    Clock::time_point t1;
    {
        std::lock_guard<std::mutex> lock(mutex);
        t1 = binaryTimes[1];
    }
    double gap = std::chrono::duration<double>(t1 - t0).count();
    EXPECT_GE(gap, 2.95);
    EXPECT_LT(gap, 3.6);
}

TEST_F(StreamFixture, OnOffStopsAndRestartsTheStreamThread) {
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    EXPECT_TRUE(host->IsStreaming());
    WaitBinary(0);
    Send(R"({"type":"stream-control","on":false,"from":"c1"})");
    EXPECT_FALSE(host->IsStreaming());
    // Stopping joined the thread: nothing captures any more.
    const int stoppedAt = CaptureCount();
    Send(R"({"type":"frame-request"})");  // a single frame still works while off
    WaitBinary(1);
    EXPECT_EQ(CaptureCount(), stoppedAt + 1);
    // {"h264":true} alone does nothing; with "on" false it counts as off.
    Send(R"({"type":"stream-control","h264":true,"from":"c1"})");
    EXPECT_FALSE(host->IsStreaming());
    Send(R"({"type":"stream-control","on":true,"from":"c1"})");
    EXPECT_TRUE(host->IsStreaming());
    EXPECT_TRUE(WaitText(R"({"type":"resolution","width":1280,"height":720})", 3));
    Send(R"({"type":"stream-control","h264":true,"on":false,"from":"c1"})");
    EXPECT_FALSE(host->IsStreaming());
}

TEST_F(StreamFixture, TilesNeedEveryWatchingController) {
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    Send(R"({"type":"controller-joined","controllerId":"c2"})");
    Send(R"({"type":"stream-prefs","tiles":true,"from":"c1"})");
    EXPECT_FALSE(host->InTilesMode());
    EXPECT_EQ(CountTexts(R"({"type":"stream-mode","tiles":true})"), 0u);
    Send(R"({"type":"stream-prefs","tiles":true,"from":"c2"})");
    EXPECT_TRUE(host->InTilesMode());
    EXPECT_EQ(CountTexts(R"({"type":"stream-mode","tiles":true})"), 1u);
    size_t i = 0;
    for (;; ++i) {
        std::vector<uint8_t> b = WaitBinary(i);
        if (b.empty() || sv_test::IsSvt1(b)) break;
    }
    sv_test::Svt1Frame f = sv_test::ParseSvt1(Binary(i));
    EXPECT_EQ(f.flag, 1);
    // One controller switching tiles off ends tiles mode.
    Send(R"({"type":"stream-prefs","tiles":false,"from":"c2"})");
    EXPECT_FALSE(host->InTilesMode());
    EXPECT_EQ(CountTexts(R"({"type":"stream-mode","tiles":false})"), 1u);
    // A controller that switched the stream off no longer counts as watching.
    Send(R"({"type":"stream-control","on":false,"from":"c2"})");
    EXPECT_TRUE(host->InTilesMode());
    EXPECT_EQ(CountTexts(R"({"type":"stream-mode","tiles":true})"), 2u);
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
    size_t i = 0;
    sv_test::Svt1Frame key = EnterTilesMode(&i);
    Paint(10, 10);
    sv_test::Svt1Frame f = sv_test::ParseSvt1(WaitBinary(i + 1));
    ASSERT_EQ(f.seq, key.seq + 1);
    // The controller acknowledges two frames behind: frames are held back up to 2 s.
    Send(R"({"type":"frame-ack","seq":)" + std::to_string(f.seq - 2) + R"(,"from":"c1"})");
    Clock::time_point sentAt;
    {
        std::lock_guard<std::mutex> lock(mutex);
        sentAt = binaryTimes.back();
    }
    Paint(10, 200);
    WaitBinary(i + 2, 5);
    double held = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        held = std::chrono::duration<double>(binaryTimes.back() - sentAt).count();
    }
    EXPECT_GE(held, 1.9);
    EXPECT_LT(held, 3.0);
    // Catching up releases the stream at once.
    sv_test::Svt1Frame g = sv_test::ParseSvt1(Binary(i + 2));
    Send(R"({"type":"frame-ack","seq":)" + std::to_string(g.seq) + R"(,"from":"c1"})");
    Clock::time_point before = Clock::now();
    Paint(300, 300);
    WaitBinary(i + 3, 5);
    double quick = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        quick = std::chrono::duration<double>(binaryTimes.back() - before).count();
    }
    EXPECT_LT(quick, 1.0);
}

TEST_F(StreamFixture, FailedSendsKeepTilesAndTheKeyframeRequest) {
    size_t i = 0;
    sv_test::Svt1Frame key = EnterTilesMode(&i);
    {
        std::lock_guard<std::mutex> lock(mutex);
        relayOk = false;
    }
    Paint(10, 10);
    const int attempts = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return binaryAttempts;
    }();
    ASSERT_TRUE(WaitFor([&] { return binaryAttempts >= attempts + 3; }));
    {
        std::lock_guard<std::mutex> lock(mutex);
        relayOk = true;
    }
    // The unsent tile arrives, under the next unused sequence number.
    sv_test::Svt1Frame f = sv_test::ParseSvt1(WaitBinary(i + 1));
    EXPECT_EQ(f.seq, key.seq + 1);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].x, 0);
    EXPECT_EQ(f.records[0].y, 0);
    // A keyframe asked for while sends fail is still owed when they work again.
    {
        std::lock_guard<std::mutex> lock(mutex);
        relayOk = false;
    }
    // (Acknowledging the last frame, so the flow control does not hold the stream.)
    Send(R"({"type":"frame-ack","lost":true,"seq":)" + std::to_string(f.seq) + R"(,"from":"c1"})");
    {
        std::unique_lock<std::mutex> lock(mutex);
        int now = binaryAttempts;
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return binaryAttempts >= now + 2; }));
        relayOk = true;
    }
    sv_test::Svt1Frame k = sv_test::ParseSvt1(WaitBinary(i + 2));
    EXPECT_EQ(k.flag, 1);
    EXPECT_EQ(k.seq, f.seq + 1);
}

TEST_F(StreamFixture, CaptureFailuresAreRetried) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        failCaptures = true;
    }
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    WaitCaptures(3);
    EXPECT_EQ(BinaryCount(), 0u);
    {
        std::lock_guard<std::mutex> lock(mutex);
        failCaptures = false;
    }
    EXPECT_TRUE(IsJpeg(WaitBinary(0), kW, kH));
}

TEST_F(StreamFixture, ConcurrentStartsAndStopsNeverBreak) {
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 60; ++i) {
                switch ((i + t) % 4) {
                    case 0: host->StartStreaming(); break;
                    case 1: host->StopStreaming(); break;
                    case 2: host->RouteIncomingText(R"({"type":"stream-control","on":false,"from":"c1"})"); break;
                    default: host->RouteIncomingText(R"({"type":"stream-control","on":true,"from":"c1"})"); break;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    host->StopStreaming();
    EXPECT_FALSE(host->IsStreaming());
    host->StartStreaming();
    EXPECT_TRUE(host->IsStreaming());
    WaitCaptures(1);
}

TEST_F(StreamFixture, UnreadableMembersDropOnlyThatMessage) {
    for (const char* bad : {R"({"type":"stream-control","on":"yes"})", R"({"type":"stream-control","on":null})",
                            R"({"type":"stream-prefs","tiles":7})", R"({"type":"frame-ack","seq":"x"})",
                            R"({"type":"frame-ack","lost":"x"})", R"({"type":"stream-control","fps":[1]})",
                            R"({"type":"stream-prefs","maxWidth":{"a":1}})"}) {
        Send(bad);
    }
    EXPECT_FALSE(host->IsStreaming());
    Send(R"({"type":"frame-request"})");
    EXPECT_TRUE(IsJpeg(WaitBinary(0), kW, kH));
}

TEST_F(StreamFixture, LastControllerLeavingStopsTheStream) {
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    Send(R"({"type":"controller-joined","controllerId":"c2"})");
    Send(R"({"type":"peer-left","id":"c1"})");
    EXPECT_TRUE(host->IsStreaming());
    Send(R"({"type":"peer-left","id":"c2"})");
    EXPECT_FALSE(host->IsStreaming());
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

TEST(NowMillisecondsTest, IsTheWallClock) {
    int64_t ms = sv::NowMilliseconds();
    int64_t s = static_cast<int64_t>(std::time(nullptr));
    EXPECT_LE(std::llabs(ms / 1000 - s), 2);
}

TEST_F(StreamFixture, AStillScreenIsEncodedOnceAndAChangeAgain) {
    auto& p = host->PlatformSeams();
    std::atomic<int> encodes{0};
    const auto encode = p.encodeJpegFrame;
    p.encodeJpegFrame = [&encodes, encode](const uint8_t* px, int32_t w, int32_t h, uint32_t q) {
        ++encodes;
        return encode(px, w, h, q);
    };
    Send(R"({"type":"controller-joined","controllerId":"c1"})");
    Send(R"({"type":"stream-control","fps":60,"maxWidth":640,"from":"c1"})");
    const std::vector<uint8_t> first = WaitBinary(0);
    WaitCaptures(10);
    EXPECT_EQ(encodes.load(), 1);
    Paint(4, 4);  // even row and column: a pixel the 640-wide frame keeps
    // The next frame that differs (an unchanged one may be repeated after 3 s).
    EXPECT_TRUE(WaitFor([&] {
        for (const auto& b : binaries) {
            if (b != first) return true;
        }
        return false;
    }));
    WaitCaptures(10);
    EXPECT_EQ(encodes.load(), 2);
}

TEST_F(StreamFixture, TheCaptureSurfaceGoesWhenTheStreamStops) {
    if (sv::GetScreenSize().first < 64) GTEST_SKIP() << "no display";
    sv::ScreenFrame* streamFrame = nullptr;
    uint64_t serial = 0;
    host->PlatformSeams().captureScreen = [&](sv::ScreenFrame& frame) {
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
    ASSERT_FALSE(host->IsStreaming());
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_NE(streamFrame, nullptr);
    EXPECT_NE(serial, 0u);
    EXPECT_EQ(sv::CaptureSurfaceSerial(*streamFrame), 0u);
    EXPECT_TRUE(streamFrame->pixels.empty());
}

}  // namespace
