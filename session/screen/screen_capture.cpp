#include "session/screen/screen_capture.h"

#include <winsock2.h>
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "session/screen/frame_scaling.h"
#include "base/ui_theme.h"
#include "session/input/input_injection.h"

namespace sv {
namespace {

namespace gp = Gdiplus::DllExports;

// Written only by StartGdiplus/StopGdiplus; encoders read it once GDI+ runs.
struct GdiplusState {
    std::mutex mutex;
    bool started = false;
    ULONG_PTR token = 0;
    CLSID jpegClsid{};
    std::atomic<bool> encoderFound{false};
};

GdiplusState& Gdi() {
    static GdiplusState state;
    return state;
}

// {1D5BE4B5-FA4A-452D-9CDD-5DB35105E7EB}
const GUID kEncoderQuality = {0x1d5be4b5, 0xfa4a, 0x452d, {0x9c, 0xdd, 0x5d, 0xb3, 0x51, 0x05, 0xe7, 0xeb}};

bool FindJpegEncoder(CLSID& out) {
    UINT count = 0;
    UINT size = 0;
    if (gp::GdipGetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
    std::vector<uint8_t> buffer(size, 0);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (gp::GdipGetImageEncoders(count, size, codecs) != Gdiplus::Ok) return false;
    for (UINT i = 0; i < count; ++i) {
        if (codecs[i].MimeType != nullptr && std::wcscmp(codecs[i].MimeType, L"image/jpeg") == 0) {
            out = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

std::vector<uint8_t> SaveImageToBytes(Gdiplus::GpImage* image, uint32_t quality) {
    std::vector<uint8_t> result;
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) || stream == nullptr) return result;
    ULONG q = quality;
    Gdiplus::EncoderParameters params;
    params.Count = 1;
    params.Parameter[0].Guid = kEncoderQuality;
    params.Parameter[0].NumberOfValues = 1;
    params.Parameter[0].Type = Gdiplus::EncoderParameterValueTypeLong;
    params.Parameter[0].Value = &q;
    CLSID clsid = Gdi().jpegClsid;
    if (gp::GdipSaveImageToStream(image, stream, &clsid, &params) == Gdiplus::Ok) {
        STATSTG stat{};
        if (SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) && stat.cbSize.QuadPart > 0 &&
            stat.cbSize.QuadPart < 0x7FFFFFFF) {
            LARGE_INTEGER zero{};
            if (SUCCEEDED(stream->Seek(zero, STREAM_SEEK_SET, nullptr))) {
                result.resize(static_cast<size_t>(stat.cbSize.QuadPart));
                ULONG read = 0;
                if (SUCCEEDED(stream->Read(result.data(), static_cast<ULONG>(result.size()), &read))) {
                    result.resize(read);
                } else {
                    result.clear();
                }
            }
        }
    }
    stream->Release();
    return result;
}

// Wraps 32-bit pixels (no copy) in a GDI+ bitmap and encodes it.
std::vector<uint8_t> EncodeScan0(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                                 uint32_t quality) {
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (gp::GdipCreateBitmapFromScan0(width, height, stride, PixelFormat32bppARGB,
                                      const_cast<BYTE*>(reinterpret_cast<const BYTE*>(pixels)),
                                      &bitmap) != Gdiplus::Ok ||
        bitmap == nullptr) {
        return {};
    }
    std::vector<uint8_t> out = SaveImageToBytes(bitmap, quality);
    gp::GdipDisposeImage(bitmap);
    return out;
}

}  // namespace

std::pair<int32_t, int32_t> GetScreenSize() {
    return {GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

bool CaptureScreen(ScreenFrame& frame, bool serviceMode) {
    // A service-mode process captures whichever desktop receives input now (logon, UAC).
    AttachInputDesktop(serviceMode);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    if (width < 1 || height < 1) return false;
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return false;
    bool ok = false;
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = memory ? CreateCompatibleBitmap(screen, width, height) : nullptr;
    if (memory != nullptr && bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY)) {
            frame.width = width;
            frame.height = height;
            frame.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
            BITMAPINFO info{};
            info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
            info.bmiHeader.biWidth = width;
            info.bmiHeader.biHeight = -height;  // top-down rows
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 32;
            info.bmiHeader.biCompression = BI_RGB;
            ok = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), frame.pixels.data(), &info,
                           DIB_RGB_COLORS) == height;
        }
        SelectObject(memory, old);
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
    if (memory != nullptr) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

bool StartGdiplus() {
    GdiplusState& s = Gdi();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.started) return true;
    Gdiplus::GdiplusStartupInput input;
    input.GdiplusVersion = 1;
    input.DebugEventCallback = nullptr;
    input.SuppressBackgroundThread = FALSE;
    input.SuppressExternalCodecs = FALSE;
    if (Gdiplus::GdiplusStartup(&s.token, &input, nullptr) != Gdiplus::Ok) return false;
    s.started = true;
    CLSID clsid{};
    bool found = FindJpegEncoder(clsid);
    s.jpegClsid = clsid;
    s.encoderFound.store(found);
    return true;
}

void StopGdiplus() {
    GdiplusState& s = Gdi();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.started) return;
    s.encoderFound.store(false);
    // The shared fonts are GDI+ objects too; freeing them after shutdown would crash.
    ReleaseUiFonts();
    Gdiplus::GdiplusShutdown(s.token);
    s.started = false;
}

bool HaveJpegEncoder() { return Gdi().encoderFound.load(); }

std::vector<uint8_t> EncodeJpegFrame(const uint8_t* pixels, int32_t width, int32_t height, uint32_t quality) {
    if (!HaveJpegEncoder() || pixels == nullptr || width < 1 || height < 1) return {};
    return EncodeScan0(pixels, width, height, width * 4, quality);
}

std::vector<uint8_t> EncodeJpegRect(const uint8_t* pixels, int32_t frameWidth, int32_t frameHeight, int32_t x,
                                    int32_t y, int32_t w, int32_t h, uint32_t quality) {
    if (!HaveJpegEncoder() || w < 1 || h < 1) return {};
    // One buffer per thread, kept between calls: the stream thread encodes many
    // rectangles per frame and must not allocate each one anew.
    thread_local std::vector<uint8_t> buffer;
    if (!CopyFrameRect(pixels, frameWidth, frameHeight, x, y, w, h, buffer)) return {};
    std::vector<uint8_t> out = EncodeScan0(buffer.data(), w, h, w * 4, quality);
    return out;
}

}  // namespace sv
