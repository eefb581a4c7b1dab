#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "base/bitmap_info.h"
#include "session/screen/screen_capture.h"
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
