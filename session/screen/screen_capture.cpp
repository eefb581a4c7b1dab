#include "session/screen/screen_capture.h"

#include <winsock2.h>
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "base/annotated_mutex.h"
#include "base/bitmap_info.h"
#include "base/ui_theme.h"
#include "session/screen/frame_scaling.h"
#include "session/input/input_injection.h"

namespace sv {
namespace {

namespace gp = Gdiplus::DllExports;

// Written only by StartGdiplus/StopGdiplus; encoders read it once GDI+ runs.
struct GdiplusState {
    Mutex mutex;
    bool started SV_GUARDED_BY(mutex) = false;
    ULONG_PTR token SV_GUARDED_BY(mutex) = 0;
    // Encoders read it without the lock: it is written before encoderFound is set, and
    // every encode first sees encoderFound set.
    CLSID jpegClsid{};
    std::atomic<bool> encoderFound{false};
};

GdiplusState& Gdi() {
    static GdiplusState state;
    return state;
}

// {1D5BE4B5-FA4A-452D-9CDD-5DB35105E7EB}
const GUID kEncoderQuality = {0x1d5be4b5, 0xfa4a, 0x452d, {0x9c, 0xdd, 0x5d, 0xb3, 0x51, 0x05, 0xe7, 0xeb}};


// An IStream that writes into the tail of a caller's byte vector: GDI+ encodes
// straight into the bytes that are sent, with no stream memory of its own to grow,
// read back and free on every encode.
class VectorStream : public IStream {
public:
    VectorStream(std::vector<uint8_t>& out) : out_(out), base_(out.size()) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
            *object = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on its caller's stack for one encode; GDI+ holds no reference past it.
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return refs_ > 1 ? --refs_ : 1; }

    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override {
        const uint64_t size = Size();
        ULONG n = 0;
        if (pos_ < size) n = static_cast<ULONG>(std::min<uint64_t>(count, size - pos_));
        if (n > 0) std::memcpy(buffer, out_.data() + base_ + pos_, n);
        pos_ += n;
        if (read != nullptr) *read = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override {
        if (written != nullptr) *written = 0;
        if (pos_ + count > kMaxBytes) return STG_E_MEDIUMFULL;
        const size_t end = base_ + static_cast<size_t>(pos_) + count;
        try {
            if (out_.size() < end) out_.resize(end);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        if (count > 0) std::memcpy(out_.data() + base_ + pos_, buffer, count);
        pos_ += count;
        if (written != nullptr) *written = count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        int64_t from = 0;
        if (origin == STREAM_SEEK_CUR) {
            from = static_cast<int64_t>(pos_);
        } else if (origin == STREAM_SEEK_END) {
            from = static_cast<int64_t>(Size());
        } else if (origin != STREAM_SEEK_SET) {
            return STG_E_INVALIDFUNCTION;
        }
        const int64_t to = from + move.QuadPart;
        if (to < 0 || static_cast<uint64_t>(to) > kMaxBytes) return STG_E_INVALIDFUNCTION;
        pos_ = static_cast<uint64_t>(to);
        if (position != nullptr) position->QuadPart = pos_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
        if (size.QuadPart > kMaxBytes) return STG_E_MEDIUMFULL;
        try {
            out_.resize(base_ + static_cast<size_t>(size.QuadPart));
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = Size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

    uint64_t Size() const { return out_.size() - base_; }

private:
    static constexpr uint64_t kMaxBytes = 0x7FFFFFFF;
    std::vector<uint8_t>& out_;
    const size_t base_;
    uint64_t pos_ = 0;
    ULONG refs_ = 1;
};

// Wraps 32-bit pixels (no copy; any stride, so a rectangle is read in place) in a
// GDI+ bitmap and appends its JPEG to `out`. False, with `out` as it was, on failure.
bool AppendJpeg(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride, uint32_t quality,
                std::vector<uint8_t>& out) {
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (gp::GdipCreateBitmapFromScan0(width, height, stride, PixelFormat32bppARGB,
                                      const_cast<BYTE*>(reinterpret_cast<const BYTE*>(pixels)),
                                      &bitmap) != Gdiplus::Ok ||
        bitmap == nullptr) {
        return false;
    }
    const size_t before = out.size();
    ULONG q = quality;
    Gdiplus::EncoderParameters params;
    params.Count = 1;
    params.Parameter[0].Guid = kEncoderQuality;
    params.Parameter[0].NumberOfValues = 1;
    params.Parameter[0].Type = Gdiplus::EncoderParameterValueTypeLong;
    params.Parameter[0].Value = &q;
    CLSID clsid = Gdi().jpegClsid;
    bool ok = false;
    {
        VectorStream stream(out);
        ok = gp::GdipSaveImageToStream(bitmap, &stream, &clsid, &params) == Gdiplus::Ok && stream.Size() > 0;
    }
    gp::GdipDisposeImage(bitmap);
    if (!ok) out.resize(before);
    return ok;
}

// Room for a JPEG of w x h pixels (an eighth of their bytes, more than a screen's JPEG
// at the stream's qualities takes) up front, so the bytes are not moved again and
// again while GDI+ writes them in small pieces.
size_t JpegGuess(int32_t w, int32_t h) { return static_cast<size_t>(w) * static_cast<size_t>(h) / 2 + 4096; }

}  // namespace

bool FindJpegEncoder(_GUID& out) {
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

std::pair<int32_t, int32_t> GetScreenSize() {
    return {GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

struct CaptureSurface {
    uint64_t serial = 0;
    int32_t width = 0;
    int32_t height = 0;
    HDC screen = nullptr;
    HDC memory = nullptr;
    HBITMAP dib = nullptr;
    HGDIOBJ previous = nullptr;
    uint8_t* bits = nullptr;
};

void CaptureSurfaceDeleter::operator()(CaptureSurface* s) const {
    if (s == nullptr) return;
    if (s->memory != nullptr) {
        if (s->previous != nullptr) SelectObject(s->memory, s->previous);
        DeleteDC(s->memory);
    }
    if (s->dib != nullptr) DeleteObject(s->dib);
    if (s->screen != nullptr) ReleaseDC(nullptr, s->screen);
    delete s;
}

namespace {

using SurfacePtr = std::unique_ptr<CaptureSurface, CaptureSurfaceDeleter>;

std::atomic<uint64_t> g_surfaceSerial{0};

// The screen's device context, a memory one and a top-down 32-bit DIB section
// selected into it: BitBlt writes straight into memory the stream reads.
SurfacePtr CreateSurface(int32_t width, int32_t height) {
    SurfacePtr s(new CaptureSurface);
    s->width = width;
    s->height = height;
    s->screen = GetDC(nullptr);
    if (s->screen == nullptr) return nullptr;
    s->memory = CreateCompatibleDC(s->screen);
    if (s->memory == nullptr) return nullptr;
    BITMAPINFO info = TopDown32BitInfo(width, height);
    void* bits = nullptr;
    s->dib = CreateDIBSection(s->screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (s->dib == nullptr || bits == nullptr) return nullptr;
    s->bits = static_cast<uint8_t*>(bits);
    s->previous = SelectObject(s->memory, s->dib);
    if (s->previous == nullptr || s->previous == HGDI_ERROR) {
        s->previous = nullptr;
        return nullptr;
    }
    s->serial = ++g_surfaceSerial;
    return s;
}

bool CaptureInto(ScreenFrame& frame, int32_t left, int32_t top, int32_t width, int32_t height, bool renew) {
    if (width < 1 || height < 1) return false;
    // A 32-bit row is never padded, so the bits are width * 4 bytes a row.
    const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
    if (bytes > SIZE_MAX / 2) return false;
    CaptureSurface* target = frame.surface.get();
    SurfacePtr fresh;
    if (renew || target == nullptr || target->width != width || target->height != height) {
        fresh = CreateSurface(width, height);
        if (!fresh) return false;
        target = fresh.get();
    }
    // A failed copy leaves the frame as it was: a new surface only replaces the old
    // one once it holds a picture.
    if (!BitBlt(target->memory, 0, 0, width, height, target->screen, left, top, SRCCOPY)) return false;
    GdiFlush();  // the copy may be batched: it must be in the bits before they are read
    if (fresh) {
        frame.pixels.Clear();
        frame.surface = std::move(fresh);
    }
    frame.width = width;
    frame.height = height;
    frame.pixels.Lend(frame.surface->bits, static_cast<size_t>(bytes));
    return true;
}

}  // namespace

bool CaptureScreen(ScreenFrame& frame, bool serviceMode) {
    // A service-mode process captures whichever desktop receives input now (logon,
    // UAC); device contexts of the desktop it left are not used again.
    const bool switched = AttachInputDesktop(serviceMode);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return CaptureInto(frame, left, top, width, height, switched);
}

bool CaptureScreenArea(ScreenFrame& frame, int32_t left, int32_t top, int32_t width, int32_t height) {
    return CaptureInto(frame, left, top, width, height, false);
}

void ReleaseCaptureSurface(ScreenFrame& frame) {
    frame.pixels.Clear();
    frame.surface.reset();
}

uint64_t CaptureSurfaceSerial(const ScreenFrame& frame) { return frame.surface ? frame.surface->serial : 0; }

bool StartGdiplus() {
    GdiplusState& s = Gdi();
    MutexLock lock(s.mutex);
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
    MutexLock lock(s.mutex);
    if (!s.started) return;
    s.encoderFound.store(false);
    // The shared fonts are GDI+ objects too; freeing them after shutdown would crash.
    ReleaseUiFonts();
    Gdiplus::GdiplusShutdown(s.token);
    s.started = false;
}

bool HaveJpegEncoder() { return Gdi().encoderFound.load(); }

std::vector<uint8_t> EncodeJpegFrame(const uint8_t* pixels, int32_t width, int32_t height, uint32_t quality) {
    std::vector<uint8_t> out;
    if (pixels != nullptr && width > 0 && height > 0) out.reserve(JpegGuess(width, height));
    AppendJpegFrame(pixels, width, height, quality, out);
    return out;
}

bool AppendJpegFrame(const uint8_t* pixels, int32_t width, int32_t height, uint32_t quality,
                     std::vector<uint8_t>& out) {
    if (!HaveJpegEncoder() || pixels == nullptr || width < 1 || height < 1 || width > 0x1FFFFFFF) return false;
    return AppendJpeg(pixels, width, height, width * 4, quality, out);
}

std::vector<uint8_t> EncodeJpegRect(const uint8_t* pixels, int32_t frameWidth, int32_t frameHeight, int32_t x,
                                    int32_t y, int32_t w, int32_t h, uint32_t quality) {
    std::vector<uint8_t> out;
    if (pixels != nullptr && RectInFrame(frameWidth, frameHeight, x, y, w, h)) out.reserve(JpegGuess(w, h));
    AppendJpegRect(pixels, frameWidth, frameHeight, x, y, w, h, quality, out);
    return out;
}

bool AppendJpegRect(const uint8_t* pixels, int32_t frameWidth, int32_t frameHeight, int32_t x, int32_t y, int32_t w,
                    int32_t h, uint32_t quality, std::vector<uint8_t>& out) {
    if (!HaveJpegEncoder() || !RectInFrame(frameWidth, frameHeight, x, y, w, h) || pixels == nullptr ||
        frameWidth > 0x1FFFFFFF) {
        return false;
    }
    // The bitmap reads the rectangle where it lies, a frame row apart per row.
    const uint8_t* origin =
        pixels + (static_cast<size_t>(y) * static_cast<size_t>(frameWidth) + static_cast<size_t>(x)) * 4;
    return AppendJpeg(origin, w, h, frameWidth * 4, quality, out);
}

}  // namespace sv
