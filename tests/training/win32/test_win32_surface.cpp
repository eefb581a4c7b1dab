#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/bitmap_info.h"
#include "base/text_encoding.h"
#include "session/screen/screen_capture.h"
#include "call_hold.h"
#include "test_support.h"
#include "training/training_records.h"
#include "training/training_session.h"
#include "training/win32/win32_surface.h"

namespace {

using sv::training::OverlayShape;

// The primary screen as 32-bit pixels, top-down.
struct Shot {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF; }
};

Shot TakeShot() {
    Shot s;
    s.width = GetSystemMetrics(SM_CXSCREEN);
    s.height = GetSystemMetrics(SM_CYSCREEN);
    s.pixels.assign(static_cast<size_t>(s.width) * s.height, 0);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, s.width, s.height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, s.width, s.height, screen, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info = sv::TopDown32BitInfo(s.width, s.height);
    GetDIBits(memory, bitmap, 0, s.height, s.pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return s;
}

int Red(uint32_t rgb) { return (rgb >> 16) & 0xFF; }
int Green(uint32_t rgb) { return (rgb >> 8) & 0xFF; }
int Blue(uint32_t rgb) { return rgb & 0xFF; }

HWND OverlayWindow() { return FindWindowW(L"SorvaneTrainingOverlay", nullptr); }

// Waits for a condition that another thread brings about, up to a bound.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

class Win32SurfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sv::StartGdiplus());
        surface_ = sv::training::MakeWin32Surface(dir_.Path());
        session_.id = "s1";
        session_.title = "Uji";
        surface_->BeginSession(session_);
    }
    void TearDown() override { surface_.reset(); }

    static OverlayShape Highlight(int32_t ttlMs = 0) {
        OverlayShape s;
        s.id = "h1";
        s.kind = "highlight";
        s.x = 200;
        s.y = 150;
        s.width = 300;
        s.height = 100;
        s.color = "#ff0000";
        s.ttlMs = ttlMs;
        return s;
    }

    sv_test::ScratchDir dir_;
    sv::training::TrainingSession session_;
    std::unique_ptr<sv::training::ITrainingSurface> surface_;
};

TEST_F(Win32SurfaceTest, WindowsHaveTheirClassesAndStyles) {
    HWND message = FindWindowExW(HWND_MESSAGE, nullptr, L"SorvaneTrainingMsg", nullptr);
    EXPECT_NE(message, nullptr);
    EXPECT_EQ(OverlayWindow(), nullptr) << "overlay windows are made on the first paint";

    surface_->ShowOverlay(Highlight());
    HWND overlay = OverlayWindow();
    ASSERT_NE(overlay, nullptr);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(overlay, GWL_EXSTYLE)) & 0x080800A8u, 0x080800A8u);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(overlay, GWL_STYLE)) & WS_POPUP, static_cast<DWORD>(WS_POPUP));
    wchar_t title[64] = {0};
    GetWindowTextW(overlay, title, 64);
    EXPECT_STREQ(title, L"Sorvane \u2014 overlay pelatihan");
    RECT r{};
    GetWindowRect(overlay, &r);
    EXPECT_EQ(r.right - r.left, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(r.bottom - r.top, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_TRUE(IsWindowVisible(overlay));
    EXPECT_NE(GetForegroundWindow(), overlay);

    // A clear that matches nothing keeps the shape; an empty id hides the window.
    surface_->ClearOverlays("other");
    EXPECT_TRUE(IsWindowVisible(overlay));
    surface_->ClearOverlays("");
    EXPECT_FALSE(IsWindowVisible(overlay));
    EXPECT_EQ(OverlayWindow(), overlay) << "a hidden window is kept for later";

    surface_.reset();
    EXPECT_EQ(OverlayWindow(), nullptr);
    EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, L"SorvaneTrainingMsg", nullptr), nullptr);
}

TEST_F(Win32SurfaceTest, HighlightIsOnScreenWhereTheShapeSays) {
    Shot before = TakeShot();
    // From another thread, as the agent's workers call it.
    std::thread caller([&] { surface_->ShowOverlay(Highlight()); });
    caller.join();
    Shot after = TakeShot();
    // The outline runs along the ring 6 pixels outside the shape: (194, 144)-(506, 256).
    struct Pixel {
        int x, y;
        bool red;
    } pixels[] = {
        {194, 200, true},  // left edge
        {505, 200, true},  // right edge
        {350, 144, true},  // top edge
        {350, 255, true},  // bottom edge
        {800, 60, false},  // far away (the banner sits bottom-right)
        {100, 100, false},
    };
    for (const Pixel& p : pixels) {
        uint32_t now = after.At(p.x, p.y);
        if (p.red) {
            EXPECT_GT(Red(now), 150) << p.x << "," << p.y;
            EXPECT_LT(Green(now), 90) << p.x << "," << p.y;
            EXPECT_LT(Blue(now), 90) << p.x << "," << p.y;
        } else {
            EXPECT_EQ(now, before.At(p.x, p.y)) << p.x << "," << p.y;
        }
    }
    // The inside is tinted, not covered: faint red over what was there.
    EXPECT_GT(Red(after.At(350, 200)), Red(before.At(350, 200)));
    EXPECT_LT(Red(after.At(350, 200)), 120);

    surface_->EndSession("done");
    Shot cleared = TakeShot();
    EXPECT_EQ(cleared.At(194, 200), before.At(194, 200));
    // A shape that comes after the end, from whoever, is not taken.
    surface_->ShowOverlay(Highlight());
    EXPECT_FALSE(IsWindowVisible(OverlayWindow()));
    EXPECT_EQ(TakeShot().At(194, 200), before.At(194, 200));
}

TEST_F(Win32SurfaceTest, ShapesExpireOnTheirOwn) {
    surface_->ShowOverlay(Highlight(300));
    HWND overlay = OverlayWindow();
    ASSERT_NE(overlay, nullptr);
    EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(overlay); }, std::chrono::seconds(10)));
}

}  // namespace

namespace {

// Once the UI thread's window is gone, callers' threads must not get windows of their
// own (nothing would pump them), and the surface must still come down.
TEST(Win32SurfaceAlone, WithoutItsMessageWindowNothingIsDrawnAndTeardownReturns) {
    ASSERT_TRUE(sv::StartGdiplus());
    sv_test::ScratchDir dir;
    auto surface = sv::training::MakeWin32Surface(dir.Path());
    HWND message = FindWindowExW(HWND_MESSAGE, nullptr, L"SorvaneTrainingMsg", nullptr);
    ASSERT_NE(message, nullptr);
    SendMessageW(message, WM_CLOSE, 0, 0);
    ASSERT_FALSE(IsWindow(message));
    OverlayShape s;
    s.id = "late";
    s.kind = "highlight";
    s.width = 50;
    s.height = 50;
    surface->ShowOverlay(s);
    EXPECT_EQ(OverlayWindow(), nullptr);
    surface->ClearOverlays("");
    surface.reset();
}

}  // namespace

namespace {

using namespace sv::training;

using Hold = sv_test::CallHold;

// Sound devices whose every call passes the hold; speech and clips go on until stopped.
struct HoldingDevices {
    Hold hold;
    std::atomic<int64_t> now{0};
    std::atomic<int> plays{0};
    std::atomic<bool> workerLeft{false};
    std::atomic<bool> voicesReturned{false};

    AudioDevices Make() {
        AudioDevices d;
        // Time stands still: a sound plays until it is stopped, never to its time-out.
        d.clock = {[this] { return now.load(); }, [](uint32_t) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }};
        d.mci.send = [this](const std::wstring& c) {
            hold.Pass(sv::Utf16ToUtf8(c.substr(0, c.find(L' '))));
            if (c.rfind(L"play", 0) == 0) plays.fetch_add(1);
            MciReply r;
            if (c.find(L" mode") != std::wstring::npos) r.text = L"playing";
            return r;
        };
        d.mci.errorText = [](uint32_t) { return std::string("err"); };
        d.makeVoice = [this] {
            auto v = std::make_unique<SpeechVoice>();
            v->select = [](const std::string&) {};
            v->setVolume = [](int32_t) {};
            v->speak = [this](const std::wstring&) {
                hold.Pass("speak");
                return 0;
            };
            v->waitUntilDone = [](uint32_t) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return 1;
            };
            v->purge = [] {};
            return v;
        };
        d.enumerateVoices = [this] {
            hold.Pass("voices");
            voicesReturned = true;
            return std::vector<VoiceInfo>{{"Andika", "id-ID", "sapi"}};
        };
        d.threadEnd = [this] { workerLeft = true; };
        d.tempDir = dir.Path();
        return d;
    }
    sv_test::ScratchDir dir;
};

SurfaceLimits ShortLimits() {
    SurfaceLimits l;
    // Long enough for a banner to open under a slow display, short beside the real ones.
    l.uiCallMs = 2000;
    l.uiJoinMs = l.stopJoinMs = 200;
    l.audio.slackMs = l.audio.startWaitMs = l.audio.stopWaitMs = 200;
    l.audio.voiceListMs = 1000;
    return l;
}

// Runs `call` and tells whether it came back within a bound far above the surface's own.
bool ReturnsInTime(const std::function<void()>& call) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> returned = done->get_future();
    std::thread([call, done] {
        call();
        done->set_value();
    }).detach();
    return returned.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
}

HWND BannerWindow() { return FindWindowW(L"SorvaneTrainingBanner", nullptr); }
HWND MessageWindow() { return FindWindowExW(HWND_MESSAGE, nullptr, L"SorvaneTrainingMsg", nullptr); }

// A call that never returns, at each place one can hang, leaves the end of the session
// and the surface's teardown returning within their bounds; what was let go finishes
// alone once the call returns, on state it keeps alive itself.
TEST(Win32SurfaceHung, EndAndTeardownReturnWhateverHangs) {
    ASSERT_TRUE(sv::StartGdiplus());
    struct Case {
        const char* at;  // where the call hangs
    } cases[] = {{"speak"}, {"voices"}, {"stop"}, {"chat"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.at);
        HoldingDevices devices;
        devices.hold.at = c.at;
        sv_test::ScratchDir dir;
        auto surface = MakeWin32Surface(dir.Path(), devices.Make(), ShortLimits());
        Hold& hold = devices.hold;
        surface->OnTraineeChat = [&hold](const std::string&) { hold.Pass("chat"); };
        TrainingSession session;
        session.id = "s1";
        surface->BeginSession(session);
        ASSERT_NE(BannerWindow(), nullptr);

        SpeechOutcome outcome;
        std::promise<void> callerReturned;
        std::future<void> returned = callerReturned.get_future();
        std::thread caller;
        const std::string at = c.at;
        if (at == "chat") {
            // The trainee sends a line; the agent's handler never returns, so the UI thread hangs.
            HWND input = GetDlgItem(BannerWindow(), 1101);
            SetWindowTextW(input, L"halo");
            PostMessageW(BannerWindow(), WM_COMMAND, MAKEWPARAM(1102, BN_CLICKED), 0);
        } else if (at == "stop") {
            // Every caller gives up on its own within its bound, as the agent's op threads
            // do, so none is still inside the surface when it goes.
            caller = std::thread([&] {
                outcome = surface->PlayAudio({nullptr, "mp3", "s1"}, 300);
                callerReturned.set_value();
            });
            ASSERT_TRUE(WaitFor([&] { return devices.plays.load() == 1; }, std::chrono::seconds(10)));
        } else {
            caller = std::thread([&] {
                outcome = surface->Speak({"Halo", "", "id-ID", "s1"}, 300);
                callerReturned.set_value();
            });
        }
        if (at != "stop") {
            ASSERT_TRUE(hold.WaitReached());
        }

        // The stop ends the session: the clip's stop command hangs once it is cancelled.
        EXPECT_TRUE(ReturnsInTime([&] { surface->EndSession("stopped by the trainee"); }));
        if (at == "stop") {
            ASSERT_TRUE(hold.WaitReached());
        }
        // The end's call to the UI thread has a short bound here, so on a loaded machine the
        // end may return before the UI thread got to it: the banner goes once it does.
        EXPECT_TRUE(at == "chat" || WaitFor([] { return BannerWindow() == nullptr; }, std::chrono::seconds(10)));
        const bool callerBack =
            !caller.joinable() || returned.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        EXPECT_TRUE(callerBack) << "the caller returns within its bound";
        if (!callerBack) hold.Release();
        if (caller.joinable()) caller.join();
        const char* expected = at == "voices" ? "the installed voices could not be listed in time" : "timed out";
        EXPECT_TRUE(at == "chat" || outcome.error == expected) << outcome.error;
        EXPECT_TRUE(ReturnsInTime([&] { surface.reset(); }));

        hold.Release();
        // What was let go finishes alone and takes the session's windows with it.
        EXPECT_TRUE(WaitFor([&] { return MessageWindow() == nullptr && BannerWindow() == nullptr; },
                            std::chrono::seconds(10)));
        EXPECT_TRUE(WaitFor([&] { return devices.workerLeft.load() && (at != "voices" || devices.voicesReturned.load()); },
                            std::chrono::seconds(10)));
        EXPECT_EQ(devices.plays.load(), at == "stop" ? 1 : 0) << "no sound starts after the end";
    }
}

// The trainee's stop is handled on a thread kept for it, never on the UI thread, so the
// end it leads to may block and the banner stays responsive meanwhile.
TEST(Win32SurfaceStop, TheTraineesStopRunsOffTheUiThread) {
    ASSERT_TRUE(sv::StartGdiplus());
    HoldingDevices devices;
    sv_test::ScratchDir dir;
    auto surface = MakeWin32Surface(dir.Path(), devices.Make(), ShortLimits());
    TrainingSession session;
    session.id = "s1";
    surface->BeginSession(session);
    HWND banner = BannerWindow();
    ASSERT_NE(banner, nullptr);
    const DWORD uiThread = GetWindowThreadProcessId(banner, nullptr);
    std::promise<DWORD> stoppedOn;
    surface->OnStopRequested = [&] {
        surface->EndSession("stopped by the trainee");
        stoppedOn.set_value(GetCurrentThreadId());
    };
    PostMessageW(banner, WM_COMMAND, MAKEWPARAM(1103, BN_CLICKED), 0);
    std::future<DWORD> stopped = stoppedOn.get_future();
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_NE(stopped.get(), uiThread);
    EXPECT_EQ(BannerWindow(), nullptr);
}

}  // namespace
