#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "session/screen/frame_scaling.h"
#include "session/screen/screen_capture.h"

namespace {

namespace gp = Gdiplus::DllExports;

// Width and height from a JPEG's start-of-frame marker; false when there is none.
bool JpegSize(const std::vector<uint8_t>& jpeg, int& width, int& height) {
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
    size_t i = 2;
    while (i + 9 < jpeg.size()) {
        if (jpeg[i] != 0xFF) return false;
        uint8_t marker = jpeg[i + 1];
        size_t len = (static_cast<size_t>(jpeg[i + 2]) << 8) | jpeg[i + 3];
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            height = (jpeg[i + 5] << 8) | jpeg[i + 6];
            width = (jpeg[i + 7] << 8) | jpeg[i + 8];
            return true;
        }
        i += 2 + len;
    }
    return false;
}

// Decodes a JPEG with GDI+ and reads one pixel as 0xAARRGGBB.
bool DecodePixel(const std::vector<uint8_t>& jpeg, int x, int y, uint32_t& argb) {
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return false;
    ULONG written = 0;
    stream->Write(jpeg.data(), static_cast<ULONG>(jpeg.size()), &written);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    Gdiplus::GpBitmap* bitmap = nullptr;
    bool ok = gp::GdipCreateBitmapFromStream(stream, &bitmap) == Gdiplus::Ok && bitmap != nullptr;
    if (ok) {
        Gdiplus::ARGB value = 0;
        ok = gp::GdipBitmapGetPixel(bitmap, x, y, &value) == Gdiplus::Ok;
        argb = value;
        gp::GdipDisposeImage(bitmap);
    }
    stream->Release();
    return ok;
}

// A BGRx frame as GetDIBits leaves it: the fourth byte is 0.
std::vector<uint8_t> SolidFrame(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4, 0);
    for (size_t i = 0; i < px.size(); i += 4) {
        px[i] = b;
        px[i + 1] = g;
        px[i + 2] = r;
    }
    return px;
}

int Channel(uint32_t argb, int shift) { return static_cast<int>((argb >> shift) & 0xFF); }

class JpegTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sv::StartGdiplus()); }
};

TEST_F(JpegTest, WholeFrameKeepsSizeAndColourWithZeroFourthByte) {
    ASSERT_TRUE(sv::HaveJpegEncoder());
    std::vector<uint8_t> px = SolidFrame(96, 40, 0x20, 0x40, 0xE0);
    std::vector<uint8_t> jpeg = sv::EncodeJpegFrame(px.data(), 96, 40, 80);
    int w = 0, h = 0;
    ASSERT_TRUE(JpegSize(jpeg, w, h));
    EXPECT_EQ(w, 96);
    EXPECT_EQ(h, 40);
    uint32_t argb = 0;
    ASSERT_TRUE(DecodePixel(jpeg, 10, 10, argb));
    EXPECT_NEAR(Channel(argb, 16), 0xE0, 12);
    EXPECT_NEAR(Channel(argb, 8), 0x40, 12);
    EXPECT_NEAR(Channel(argb, 0), 0x20, 12);
}

bool UnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST_F(JpegTest, QualityChangesTheOutput) {
    // Wine's GDI+ JPEG encoder takes the quality parameter but does not use it.
    if (UnderWine()) GTEST_SKIP() << "Wine ignores EncoderQuality";
    std::vector<uint8_t> px(200 * 100 * 4);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>((i * 7919) >> 3);
    std::vector<uint8_t> low = sv::EncodeJpegFrame(px.data(), 200, 100, 5);
    std::vector<uint8_t> high = sv::EncodeJpegFrame(px.data(), 200, 100, 95);
    ASSERT_FALSE(low.empty());
    ASSERT_FALSE(high.empty());
    EXPECT_LT(low.size(), high.size());
}

TEST_F(JpegTest, RectangleIsCutFromTheFrame) {
    // Left half blue, right half red; the rectangle lies in the red half.
    const int fw = 128, fh = 64;
    std::vector<uint8_t> px = SolidFrame(fw, fh, 0xF0, 0, 0);
    for (int y = 0; y < fh; ++y) {
        for (int x = 64; x < fw; ++x) {
            uint8_t* p = &px[(static_cast<size_t>(y) * fw + x) * 4];
            p[0] = 0;
            p[2] = 0xF0;
        }
    }
    std::vector<uint8_t> jpeg = sv::EncodeJpegRect(px.data(), fw, fh, 64, 8, 48, 40, 90);
    int w = 0, h = 0;
    ASSERT_TRUE(JpegSize(jpeg, w, h));
    EXPECT_EQ(w, 48);
    EXPECT_EQ(h, 40);
    uint32_t argb = 0;
    ASSERT_TRUE(DecodePixel(jpeg, 20, 20, argb));
    EXPECT_GT(Channel(argb, 16), 0xC0);
    EXPECT_LT(Channel(argb, 0), 0x30);
}

TEST_F(JpegTest, EmptyOrOutsideRectanglesGiveNothing) {
    std::vector<uint8_t> px = SolidFrame(64, 64, 1, 2, 3);
    EXPECT_TRUE(sv::EncodeJpegRect(px.data(), 64, 64, 0, 0, 0, 10, 60).empty());
    EXPECT_TRUE(sv::EncodeJpegRect(px.data(), 64, 64, 0, 0, 10, 0, 60).empty());
    EXPECT_TRUE(sv::EncodeJpegRect(px.data(), 64, 64, 60, 0, 10, 10, 60).empty());
    EXPECT_TRUE(sv::EncodeJpegRect(px.data(), 64, 64, 0, 60, 10, 10, 60).empty());
    EXPECT_TRUE(sv::EncodeJpegRect(px.data(), 64, 64, -1, 0, 10, 10, 60).empty());
    EXPECT_TRUE(sv::EncodeJpegFrame(px.data(), 0, 64, 60).empty());
    EXPECT_TRUE(sv::EncodeJpegFrame(nullptr, 64, 64, 60).empty());
}

TEST_F(JpegTest, StoppedGdiplusEncodesNothingAndRestarts) {
    std::vector<uint8_t> px = SolidFrame(16, 16, 1, 2, 3);
    sv::StopGdiplus();
    EXPECT_TRUE(sv::EncodeJpegFrame(px.data(), 16, 16, 60).empty());
    sv::StopGdiplus();  // a second stop does nothing
    ASSERT_TRUE(sv::StartGdiplus());
    ASSERT_TRUE(sv::StartGdiplus());  // a second start changes nothing
    EXPECT_FALSE(sv::EncodeJpegFrame(px.data(), 16, 16, 60).empty());
}


TEST_F(JpegTest, RectanglesAreReadInPlaceAndAppended) {
    // A rectangle is read where it lies in the frame, a frame row apart per row: its
    // JPEG must be the very bytes of the same pixels copied out first, also at the
    // frame's right and bottom edges, and appending keeps what the buffer held.
    const int fw = 150, fh = 90;
    std::vector<uint8_t> px(static_cast<size_t>(fw) * fh * 4);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>((i * 7919) >> 4);
    struct Case {
        int x, y, w, h;
    };
    for (const Case& c : {Case{0, 0, 64, 64}, Case{64, 8, 48, 40}, Case{134, 82, 16, 8}, Case{0, 0, fw, fh}}) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " " << c.w << "x" << c.h);
        std::vector<uint8_t> copy;
        ASSERT_TRUE(sv::CopyFrameRect(px.data(), fw, fh, c.x, c.y, c.w, c.h, copy));
        const std::vector<uint8_t> expected = sv::EncodeJpegFrame(copy.data(), c.w, c.h, 60);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(sv::EncodeJpegRect(px.data(), fw, fh, c.x, c.y, c.w, c.h, 60), expected);
        std::vector<uint8_t> out = {'S', 'V', 'T'};
        ASSERT_TRUE(sv::AppendJpegRect(px.data(), fw, fh, c.x, c.y, c.w, c.h, 60, out));
        ASSERT_EQ(out.size(), 3 + expected.size());
        EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 3), (std::vector<uint8_t>{'S', 'V', 'T'}));
        EXPECT_EQ(std::vector<uint8_t>(out.begin() + 3, out.end()), expected);
    }
    // A rectangle past the frame's edge is refused and leaves the buffer as it was.
    std::vector<uint8_t> out = {1, 2};
    EXPECT_FALSE(sv::AppendJpegRect(px.data(), fw, fh, 140, 0, 16, 8, 60, out));
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2}));
}

TEST(CaptureSurfaceTest, KeptWhileTheSizeHoldsAndRenewedWhenItChanges) {
    if (sv::GetScreenSize().first < 64) GTEST_SKIP() << "no display";
    sv::ScreenFrame frame;
    struct Step {
        int w, h;
        bool ok;
        bool renewed;
    };
    const Step steps[] = {
        {32, 16, true, true},   // the first capture makes a surface
        {32, 16, true, false},  // the same size keeps it
        {48, 16, true, true},   // another size replaces it
        {48, 16, true, false},
        {0, 16, false, false},  // a failed capture leaves the frame as it was
        {48, 16, true, false},
    };
    uint64_t serial = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << s.w << "x" << s.h);
        const uint8_t* before = frame.pixels.data();
        EXPECT_EQ(sv::CaptureScreenArea(frame, 0, 0, s.w, s.h), s.ok);
        const uint64_t now = sv::CaptureSurfaceSerial(frame);
        EXPECT_NE(now, 0u);
        EXPECT_EQ(now != serial, s.renewed);
        if (!s.renewed) {
            EXPECT_EQ(frame.pixels.data(), before);
        }
        serial = now;
        EXPECT_EQ(frame.width, s.ok ? s.w : 48);
        EXPECT_EQ(frame.pixels.size(), static_cast<size_t>(frame.width) * frame.height * 4);
    }
    // A copy owns its bytes and captures through a surface of its own.
    sv::ScreenFrame copy = frame;
    EXPECT_EQ(sv::CaptureSurfaceSerial(copy), 0u);
    EXPECT_NE(copy.pixels.data(), frame.pixels.data());
    EXPECT_TRUE(std::equal(copy.pixels.begin(), copy.pixels.end(), frame.pixels.begin(), frame.pixels.end()));
    sv::ReleaseCaptureSurface(frame);
    EXPECT_EQ(sv::CaptureSurfaceSerial(frame), 0u);
    EXPECT_TRUE(frame.pixels.empty());
}

TEST(ScreenCaptureTest, CapturesTheWholeVirtualScreen) {
    std::pair<int32_t, int32_t> size = sv::GetScreenSize();
    if (size.first < 1) GTEST_SKIP() << "no display";
    sv::ScreenFrame frame;
    ASSERT_TRUE(sv::CaptureScreen(frame));
    EXPECT_EQ(frame.width, size.first);
    EXPECT_EQ(frame.height, size.second);
    EXPECT_EQ(frame.pixels.size(), static_cast<size_t>(size.first) * size.second * 4);
    // The buffer is reused, not rebuilt, by the next capture.
    const uint8_t* data = frame.pixels.data();
    ASSERT_TRUE(sv::CaptureScreen(frame));
    EXPECT_EQ(frame.pixels.data(), data);
}

TEST(ScreenCaptureTest, SeesAWindowPaintedOnTheScreen) {
    if (sv::GetScreenSize().first < 1) GTEST_SKIP() << "no display";
    HWND wnd = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 200, 150, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(wnd, nullptr);
    HDC dc = GetDC(wnd);
    HBRUSH brush = CreateSolidBrush(RGB(0x10, 0xC0, 0x30));
    RECT rc = {0, 0, 200, 150};
    sv::ScreenFrame frame;
    bool seen = false;
    for (int attempt = 0; attempt < 100 && !seen; ++attempt) {
        FillRect(dc, &rc, brush);
        GdiFlush();
        ASSERT_TRUE(sv::CaptureScreen(frame));
        const uint8_t* p = &frame.pixels[(static_cast<size_t>(75) * frame.width + 100) * 4];
        seen = p[0] == 0x30 && p[1] == 0xC0 && p[2] == 0x10;
        if (!seen) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            Sleep(20);
        }
    }
    EXPECT_TRUE(seen);
    DeleteObject(brush);
    ReleaseDC(wnd, dc);
    DestroyWindow(wnd);
}

}  // namespace
