#include "training/win32/win32_surface.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "base/text_encoding.h"
#include "training/win32/overlay_layout.h"
#include "training/win32/overlay_painter.h"
#include "training/win32/overlay_shape_list.h"

namespace sv {
namespace training {
namespace {

constexpr UINT kRunOnUiThread = WM_APP + 0x28;
constexpr UINT_PTR kExpiryTimer = 1;
constexpr UINT kExpiryPeriodMs = 200;
constexpr DWORD kReadyWaitMs = 10000;
constexpr UINT kRaiseFlags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW;
const wchar_t kMessageClass[] = L"SorvaneTrainingMsg";
const wchar_t kOverlayClass[] = L"SorvaneTrainingOverlay";
const wchar_t kOverlayTitle[] = L"Sorvane \u2014 overlay pelatihan";
constexpr DWORD kOverlayExStyle = WS_EX_TOPMOST | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_LAYERED | WS_EX_NOACTIVATE;

// Waits for the compositor to show what was just pushed, so a caller that reports
// "drawn" is not ahead of the screen.
void FlushDwm() {
    using DwmFlushFn = HRESULT(WINAPI*)();
    static const DwmFlushFn flush = [] {
        HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
        return dwm ? reinterpret_cast<DwmFlushFn>(reinterpret_cast<void*>(GetProcAddress(dwm, "DwmFlush")))
                   : nullptr;
    }();
    if (flush) {
        flush();
        flush();
    }
    Sleep(40);
}

BOOL CALLBACK CollectMonitorArea(HMONITOR monitor, HDC, LPRECT, LPARAM param) {
    auto* list = reinterpret_cast<std::vector<MonitorArea>*>(param);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(monitor, &info)) {
        MonitorArea area;
        area.monitor = {info.rcMonitor.left, info.rcMonitor.top, info.rcMonitor.right, info.rcMonitor.bottom};
        area.work = {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
        area.primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
        list->push_back(area);
    }
    return TRUE;
}

std::vector<MonitorArea> EnumerateMonitors() {
    std::vector<MonitorArea> monitors;
    EnumDisplayMonitors(nullptr, nullptr, CollectMonitorArea, reinterpret_cast<LPARAM>(&monitors));
    return monitors;
}

struct OverlayWindow {
    MonitorArea area;
    HWND hwnd = nullptr;
};

class Win32Surface : public ITrainingSurface {
public:
    explicit Win32Surface(const std::string& dataDir) : dataDir_(dataDir) {
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        uiThread_ = std::thread([this, ready] { UiThreadMain(ready); });
        if (ready != nullptr) {
            WaitForSingleObject(ready, kReadyWaitMs);
            CloseHandle(ready);
        }
    }

    ~Win32Surface() override {
        // The UI thread checks this after creating its window, so a thread that was
        // still starting ends on its own instead of waiting for a quit nobody sends.
        stopping_.store(true);
        HWND window = msgWindow_.load();
        if (window == nullptr || !PostMessageW(window, WM_CLOSE, 0, 0)) {
            DWORD id = uiThreadId_.load();
            if (id != 0) PostThreadMessageW(id, WM_QUIT, 0, 0);
        }
        if (uiThread_.joinable()) uiThread_.join();
    }

    // The session banner and the audio worker are not part of this surface yet: it
    // answers as a surface without them.
    void BeginSession(const TrainingSession&) override {}

    void EndSession(const std::string&) override {
        RunOnUiThread([this] {
            shapes_.Clear("");
            RefreshOverlays();
        });
        std::lock_guard<std::mutex> lock(bannerMutex_);
        bannerVisible_ = false;
    }

    void SetMode(uint32_t, bool) override {}
    void SetStep(std::optional<int32_t>, std::optional<int32_t>, const std::string&) override {}

    void ShowOverlay(const OverlayShape& shape) override {
        if (RunOnUiThread([&] { UpsertShape(shape); })) FlushDwm();
    }

    void ClearOverlays(const std::string& id) override {
        bool ran = RunOnUiThread([&] {
            shapes_.Clear(id);
            RefreshOverlays();
        });
        if (ran) FlushDwm();
    }

    void AppendChat(const ChatMessage&) override {}

    SpeechOutcome Speak(const SpeechRequest&, uint32_t) override {
        SpeechOutcome outcome;
        outcome.error = "speech is not available on this host";
        return outcome;
    }

    SpeechOutcome PlayAudio(const AudioClipRequest&, uint32_t) override {
        SpeechOutcome outcome;
        outcome.error = "audio playback is not available on this host";
        return outcome;
    }

    std::vector<VoiceInfo> ListVoices(bool) override { return {}; }

    BannerState GetBannerState() override {
        std::lock_guard<std::mutex> lock(bannerMutex_);
        if (!bannerVisible_) return std::nullopt;
        return bannerRect_;
    }

    BannerPlacement SetBannerPosition(const std::string&, std::optional<bool>) override { return BannerPlacement{}; }

    bool IsMuted() override { return liveMuted_.load(); }
    double GetVolume() override { return liveVolume_.load(); }

private:
    // Runs `work` on the UI thread and waits for it. From the UI thread itself it runs
    // inline. With no message window (the UI thread never got that far) work from other
    // threads is skipped: windows made there would belong to a thread that pumps no
    // messages. Returns whether the work ran.
    bool RunOnUiThread(const std::function<void()>& work) {
        if (GetCurrentThreadId() == uiThreadId_.load()) {
            work();
            return true;
        }
        HWND window = msgWindow_.load();
        if (window == nullptr) return false;
        SendMessageW(window, kRunOnUiThread, 0, reinterpret_cast<LPARAM>(&work));
        return true;
    }

    void UiThreadMain(HANDLE ready) {
        uiThreadId_.store(GetCurrentThreadId());
        HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        dpi_ = 96;
        if (HDC screen = GetDC(nullptr)) {
            int measured = GetDeviceCaps(screen, LOGPIXELSX);
            if (measured > 0) dpi_ = static_cast<uint32_t>(measured);
            ReleaseDC(nullptr, screen);
        }
        HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSW messageClass{};
        messageClass.lpfnWndProc = MessageWndProc;
        messageClass.hInstance = instance;
        messageClass.lpszClassName = kMessageClass;
        RegisterClassW(&messageClass);  // fails harmlessly when an earlier surface registered it
        WNDCLASSW overlayClass{};
        overlayClass.lpfnWndProc = OverlayWndProc;
        overlayClass.hInstance = instance;
        overlayClass.lpszClassName = kOverlayClass;
        RegisterClassW(&overlayClass);

        HWND window = CreateWindowExW(0, kMessageClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
        if (window != nullptr) {
            SetTimer(window, kExpiryTimer, kExpiryPeriodMs, nullptr);
            msgWindow_.store(window);
        }
        if (ready != nullptr) SetEvent(ready);
        if (window != nullptr && stopping_.load()) DestroyWindow(window);

        MSG msg;
        while (window != nullptr && GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        msgWindow_.store(nullptr);
        for (OverlayWindow& w : windows_) {
            if (w.hwnd) DestroyWindow(w.hwnd);
        }
        windows_.clear();
        if (SUCCEEDED(com)) CoUninitialize();
    }

    static LRESULT CALLBACK MessageWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        }
        auto* self = reinterpret_cast<Win32Surface*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        switch (msg) {
            case kRunOnUiThread:
                try {
                    auto* work = reinterpret_cast<const std::function<void()>*>(lParam);
                    if (work) (*work)();
                } catch (...) {
                    // The caller gets its results' initial values.
                }
                return 0;
            case WM_TIMER:
                if (self && wParam == kExpiryTimer) {
                    try {
                        if (self->shapes_.Expire(GetTickCount64())) self->RefreshOverlays();
                    } catch (...) {
                    }
                }
                return 0;
            case WM_DISPLAYCHANGE:
                if (self) self->RefreshOverlays();
                return 0;
            case WM_CLOSE:
                DestroyWindow(hwnd);
                return 0;
            case WM_DESTROY:
                PostQuitMessage(0);
                return 0;
            default:
                return DefWindowProcW(hwnd, msg, wParam, lParam);
        }
    }

    // A message-only window gets no broadcasts, so the monitor-layout change reaches the
    // surface through its overlay windows, which are top-level. Posted, not handled here:
    // the refresh may destroy the very window whose procedure this is.
    static LRESULT CALLBACK OverlayWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        } else if (msg == WM_DISPLAYCHANGE) {
            auto* self = reinterpret_cast<Win32Surface*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            HWND window = self ? self->msgWindow_.load() : nullptr;
            if (window) PostMessageW(window, WM_DISPLAYCHANGE, wParam, lParam);
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }

    // --- UI thread only below ---

    void UpsertShape(const OverlayShape& shape) {
        shapes_.Upsert(shape, GetTickCount64());
        RefreshOverlays();
    }

    void RefreshOverlays() {
        std::vector<MonitorArea> monitors = EnumerateMonitors();
        bool same = monitors.size() == windows_.size();
        for (size_t i = 0; same && i < monitors.size(); ++i) same = monitors[i].monitor == windows_[i].area.monitor;
        if (!same) {
            for (OverlayWindow& w : windows_) {
                if (w.hwnd) DestroyWindow(w.hwnd);
            }
            windows_.clear();
            for (const MonitorArea& m : monitors) windows_.push_back({m, nullptr});
        }
        occupied_.clear();
        const std::vector<OverlayShape>& shapes = shapes_.Shapes();
        std::vector<size_t> order = ShapeDrawOrder(shapes);
        MonitorArea bannerMonitor = NearestMonitor(monitors, 0, 0).value_or(MonitorArea{});
        for (OverlayWindow& w : windows_) {
            std::vector<const OverlayShape*> selected;
            for (size_t i : order) {
                if (ShapeTouchesMonitor(shapes[i], w.area.monitor)) selected.push_back(&shapes[i]);
            }
            if (selected.empty()) {
                if (w.hwnd) ShowWindow(w.hwnd, SW_HIDE);
                continue;
            }
            if (w.hwnd == nullptr) {
                w.hwnd = CreateWindowExW(kOverlayExStyle, kOverlayClass, kOverlayTitle, WS_POPUP, w.area.monitor.left,
                                         w.area.monitor.top, w.area.monitor.Width(), w.area.monitor.Height(), nullptr,
                                         nullptr, GetModuleHandleW(nullptr), this);
                if (w.hwnd == nullptr) continue;
            }
            OverlayCanvas canvas;
            canvas.monitor = w.area;
            canvas.monitors = monitors;
            canvas.bannerMonitor = bannerMonitor;
            canvas.dpi = dpi_;
            RenderOverlay(w, canvas, selected);
        }
    }

    void RenderOverlay(const OverlayWindow& w, const OverlayCanvas& canvas,
                       const std::vector<const OverlayShape*>& shapes) {
        const int32_t width = w.area.monitor.Width();
        const int32_t height = w.area.monitor.Height();
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        void* bits = nullptr;
        HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (section == nullptr || bits == nullptr) {
            if (section) DeleteObject(section);
            if (memory) DeleteDC(memory);
            if (screen) ReleaseDC(nullptr, screen);
            return;  // the window keeps its last picture
        }
        HGDIOBJ old = SelectObject(memory, section);
        PaintOverlayShapes(static_cast<uint8_t*>(bits), canvas, shapes, occupied_);
        POINT destination{w.area.monitor.left, w.area.monitor.top};
        SIZE size{width, height};
        POINT source{0, 0};
        BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        UpdateLayeredWindow(w.hwnd, screen, &destination, &size, memory, &source, 0, &blend, ULW_ALPHA);
        SelectObject(memory, old);
        DeleteObject(section);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        SetWindowPos(w.hwnd, HWND_TOPMOST, 0, 0, 0, 0, kRaiseFlags);
    }

    std::string dataDir_;
    std::atomic<double> liveVolume_{1.0};
    std::atomic<bool> liveMuted_{false};

    std::thread uiThread_;
    std::atomic<DWORD> uiThreadId_{0};
    std::atomic<HWND> msgWindow_{nullptr};
    std::atomic<bool> stopping_{false};
    uint32_t dpi_ = 96;

    std::mutex bannerMutex_;
    Box bannerRect_;
    bool bannerVisible_ = false;

    // Owned by the UI thread.
    OverlayShapeList shapes_;
    std::vector<OverlayWindow> windows_;
    std::vector<Box> occupied_;
};

}  // namespace

std::unique_ptr<ITrainingSurface> MakeWin32Surface(const std::string& dataDir) {
    return std::make_unique<Win32Surface>(dataDir);
}

}  // namespace training
}  // namespace sv
