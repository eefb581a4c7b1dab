#include "training/win32/win32_surface.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/annotated_mutex.h"
#include "base/audit_log.h"
#include "base/detachable_thread.h"
#include "base/settings_file.h"
#include "base/system_library.h"
#include "base/text_encoding.h"
#include "base/ui_theme.h"
#include "training/banner_placement.h"
#include "training/training_session.h"
#include "training/win32/audio_devices.h"
#include "training/win32/callback_worker.h"
#include "training/win32/overlay_layout.h"
#include "training/win32/gdiplus_handles.h"
#include "training/win32/overlay_painter.h"
#include "training/win32/overlay_shape_list.h"
#include "training/win32/training_banner.h"

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
        std::wstring path = sv::SystemLibraryPath(L"dwmapi.dll");
        if (path.empty()) return static_cast<DwmFlushFn>(nullptr);
        HMODULE dwm = LoadLibraryW(path.c_str());
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

// The agent's two callbacks as the surface's owner holds them, read when they are called;
// closed when the owner goes, so the UI thread and the stop thread, which may outlive it,
// then find nothing to call.
class CallbackDoor {
public:
    explicit CallbackDoor(ITrainingSurface* owner) : owner_(owner) {}
    std::function<void(const std::string&)> Chat() SV_EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        return owner_ ? owner_->OnTraineeChat : nullptr;
    }
    std::function<void()> Stop() SV_EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        return owner_ ? owner_->OnStopRequested : nullptr;
    }
    void Close() SV_EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        owner_ = nullptr;
    }

private:
    Mutex mutex_;
    ITrainingSurface* owner_ SV_GUARDED_BY(mutex_);
};

// One piece of work for the UI thread. It owns its arguments and results and is shared by
// the caller and the UI thread, so a caller that stops waiting leaves nothing behind that
// the work could reach.
struct UiWork {
    explicit UiWork(std::function<void()> w) : run(std::move(w)) {}
    // Only the UI thread touches it once handed over, and it runs without the lock.
    std::function<void()> run;
    Mutex mutex;
    CondVar finished;
    bool done SV_GUARDED_BY(mutex) = false;
    bool ran SV_GUARDED_BY(mutex) = false;
};

// Everything the UI thread touches. The UI thread holds it while it runs, so a UI thread
// that teardown had to let go still finds it when it comes back.
class SurfaceCore {
public:
    SurfaceCore(const std::string& dataDir, AudioDevices devices, const SurfaceLimits& limits,
                std::shared_ptr<CallbackDoor> door)
        : audio_(std::make_shared<SurfaceAudio>(std::move(devices), SettingsFile::InDataDir(dataDir).Path(),
                                                limits.audio)),
          limits_(limits),
          door_(std::move(door)),
          dataDir_(dataDir) {}

    SurfaceAudio& Audio() { return *audio_; }
    CallbackWorker& StopRunner() { return stopRunner_; }

    // Waits up to `ms` for the UI thread to have its window (or to have given up).
    void WaitReady(uint32_t ms) SV_EXCLUDES(stateMutex_) {
        MutexLock lock(stateMutex_);
        stateSignal_.WaitFor(lock, std::chrono::milliseconds(ms), [this]() SV_REQUIRES(stateMutex_) { return ready_; });
    }
    // Asks the UI thread to end and waits up to `ms`; true once it has left its loop.
    bool Close(uint32_t ms) SV_EXCLUDES(stateMutex_) {
        // The UI thread checks this after creating its window, so a thread that was
        // still starting ends on its own instead of waiting for a quit nobody sends.
        stopping_.store(true);
        HWND window = msgWindow_.load();
        if (window == nullptr || !PostMessageW(window, WM_CLOSE, 0, 0)) {
            DWORD id = uiThreadId_.load();
            if (id != 0) PostThreadMessageW(id, WM_QUIT, 0, 0);
        }
        MutexLock lock(stateMutex_);
        return stateSignal_.WaitFor(lock, std::chrono::milliseconds(ms),
                                    [this]() SV_REQUIRES(stateMutex_) { return ended_; });
    }

    void BeginSession(const TrainingSession& session) {
        audio_->BeginSession(session.id);
        RunOnUiThread([this, title = session.title, trainer = session.trainer, mode = session.mode] {
            sessionOpen_ = true;
            OpenBanner(title, trainer, mode);
        });
    }

    void EndSession() {
        audio_->EndSession();
        RunOnUiThread([this] {
            // From here until the next session no shape, step, chat line or banner move
            // is taken, whoever still sends one.
            sessionOpen_ = false;
            shapes_.Clear("");
            RefreshOverlays();
            banner_.reset();
            MutexLock lock(bannerMutex_);
            bannerVisible_ = false;
        });
        MutexLock lock(bannerMutex_);
        bannerVisible_ = false;
    }

    void SetMode(TrainingMode mode, bool aiPaused) {
        RunOnUiThread([this, mode, aiPaused] {
            if (sessionOpen_ && banner_) banner_->SetMode(static_cast<uint32_t>(mode), aiPaused);
        });
    }

    void SetStep(std::optional<int32_t> index, std::optional<int32_t> total, const std::string& text) {
        RunOnUiThread([this, index, total, text] {
            if (sessionOpen_ && banner_) banner_->SetStepText(StepCaption(index, total, Utf8ToUtf16(text)));
        });
    }

    void ShowOverlay(const OverlayShape& shape) {
        if (RunOnUiThread([this, shape] { UpsertShape(shape); })) FlushDwm();
    }

    void ClearOverlays(const std::string& id) {
        bool ran = RunOnUiThread([this, id] {
            shapes_.Clear(id);
            RefreshOverlays();
        });
        if (ran) FlushDwm();
    }

    void AppendChat(const ChatMessage& message) {
        RunOnUiThread([this, message] {
            if (!sessionOpen_ || !banner_) return;
            banner_->AppendChat(message);
            if (message.from != "trainee") RaiseBanner();
        });
    }

    BannerState GetBannerState() SV_EXCLUDES(bannerMutex_) {
        MutexLock lock(bannerMutex_);
        if (!bannerVisible_) return std::nullopt;
        return bannerRect_;
    }

    BannerPlacement SetBannerPosition(const std::string& position, std::optional<bool> compact) {
        auto placement = std::make_shared<BannerPlacement>();
        // Read only once the work is done: work cut short by the bound may still write it.
        if (!RunOnUiThread([this, position, compact, placement] { ApplyBannerPosition(position, compact, *placement); })) {
            return BannerPlacement{};
        }
        return *placement;
    }

    void UiThreadMain() {
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
        SetState([this]() SV_REQUIRES(stateMutex_) { ready_ = true; });
        if (window != nullptr && stopping_.load()) DestroyWindow(window);

        MSG msg;
        while (window != nullptr && GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (banner_ && banner_->Window()) {
                if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN && msg.hwnd == banner_->Input()) {
                    banner_->SendChat();
                    continue;
                }
                if (IsDialogMessageW(banner_->Window(), &msg)) continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        msgWindow_.store(nullptr);
        // Work handed over after the last message is not run; its callers hear so at once.
        std::deque<std::shared_ptr<UiWork>> left;
        {
            MutexLock lock(workMutex_);
            workClosed_ = true;
            left.swap(work_);
        }
        for (const std::shared_ptr<UiWork>& item : left) Finish(*item, false);
        for (OverlayWindow& w : windows_) {
            if (w.hwnd) DestroyWindow(w.hwnd);
        }
        windows_.clear();
        banner_.reset();
        if (SUCCEEDED(com)) CoUninitialize();
        // The system may give this id to another thread, which must not take itself for
        // the UI thread and run window work inline.
        uiThreadId_.store(0);
        SetState([this]() SV_REQUIRES(stateMutex_) { ended_ = true; });
    }

private:
    // change runs under stateMutex_.
    void SetState(const std::function<void()>& change) SV_EXCLUDES(stateMutex_) {
        MutexLock lock(stateMutex_);
        change();
        stateSignal_.NotifyAll();
    }

    static void Finish(UiWork& item, bool ran) SV_EXCLUDES(item.mutex) {
        MutexLock lock(item.mutex);
        item.run = nullptr;
        item.done = true;
        item.ran = ran;
        item.finished.NotifyAll();
    }

    // Runs `work` on the UI thread and waits for it, at most the bound. From the UI thread
    // itself it runs inline. With no message window (the UI thread never got that far)
    // work from other threads is skipped: windows made there would belong to a thread that
    // pumps no messages. Returns whether the work ran within the bound; work the bound cut
    // short still runs, in its turn, on its own copies.
    bool RunOnUiThread(std::function<void()> work) SV_EXCLUDES(workMutex_, stateMutex_, bannerMutex_) {
        if (GetCurrentThreadId() == uiThreadId_.load()) {
            work();
            return true;
        }
        HWND window = msgWindow_.load();
        if (window == nullptr) return false;
        auto item = std::make_shared<UiWork>(std::move(work));
        {
            MutexLock lock(workMutex_);
            if (workClosed_) return false;
            work_.push_back(item);
        }
        if (!PostMessageW(window, kRunOnUiThread, 0, 0)) {
            MutexLock lock(workMutex_);
            auto at = std::find(work_.begin(), work_.end(), item);
            // Not found: the UI thread has taken it with earlier work and will run it.
            if (at != work_.end()) {
                work_.erase(at);
                return false;
            }
        }
        UiWork* handed = item.get();
        MutexLock lock(handed->mutex);
        handed->finished.WaitFor(lock, std::chrono::milliseconds(limits_.uiCallMs),
                                 [handed]() SV_REQUIRES(handed->mutex) { return handed->done; });
        return handed->done && handed->ran;
    }

    // The UI thread: every piece of work handed over so far, oldest first.
    void RunHandedWork() SV_EXCLUDES(workMutex_) {
        for (;;) {
            std::shared_ptr<UiWork> item;
            {
                MutexLock lock(workMutex_);
                if (work_.empty()) return;
                item = std::move(work_.front());
                work_.pop_front();
            }
            try {
                if (item->run) item->run();
            } catch (...) {
                // The caller gets its results' initial values.
            }
            Finish(*item, true);
        }
    }

    static LRESULT CALLBACK MessageWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        }
        auto* self = reinterpret_cast<SurfaceCore*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        switch (msg) {
            case kRunOnUiThread:
                if (self) self->RunHandedWork();
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
            auto* self = reinterpret_cast<SurfaceCore*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            HWND window = self ? self->msgWindow_.load() : nullptr;
            if (window) PostMessageW(window, WM_DISPLAYCHANGE, wParam, lParam);
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }

    // --- UI thread only below ---

    void UpsertShape(const OverlayShape& shape) {
        if (!sessionOpen_) return;  // a shape with no session would stay until exit
        shapes_.Upsert(shape, GetTickCount64());
        RefreshOverlays();
        // The trainer's pointer never moves the banner; anything else it covers does.
        if (shape.kind == "ghost" || !banner_ || occupied_.empty()) return;
        std::optional<Box> rect = BannerWindowRect();
        if (rect && OverlapArea(*rect, occupied_) != 0) AutoPlaceBanner(occupied_, true);
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
        } else {
            // Same monitors; their work areas may have moved with the taskbar.
            for (size_t i = 0; i < monitors.size(); ++i) windows_[i].area = monitors[i];
        }
        occupied_.clear();
        const std::vector<OverlayShape>& shapes = shapes_.Shapes();
        std::vector<size_t> order = ShapeDrawOrder(shapes);
        POINT bannerPoint = BannerCentre();
        MonitorArea bannerMonitor = NearestMonitor(monitors, bannerPoint.x, bannerPoint.y).value_or(MonitorArea{});
        const BannerPalette& palette = palette_ ? *palette_ : kLightBannerPalette;
        StepCardColors colors;
        colors.surface = palette[BannerColor::Surface];
        colors.text = palette[BannerColor::Text];
        colors.secondary = palette[BannerColor::SecondaryText];
        colors.accent = palette[BannerColor::Accent];
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
            canvas.colors = colors;
            RenderOverlay(w, canvas, selected);
        }
        RaiseBanner();
    }

    // ---- the banner (UI thread) ----

    HWND BannerWindow() const { return banner_ ? banner_->Window() : nullptr; }

    std::optional<Box> BannerWindowRect() const {
        RECT r;
        HWND window = BannerWindow();
        if (window == nullptr || !GetWindowRect(window, &r)) return std::nullopt;
        return Box{r.left, r.top, r.right - r.left, r.bottom - r.top};
    }

    // The banner window's centre, or (0, 0) without one.
    POINT BannerCentre() const {
        std::optional<Box> r = BannerWindowRect();
        if (!r) return POINT{0, 0};
        return POINT{r->x + r->width / 2, r->y + r->height / 2};
    }

    void RaiseBanner() {
        if (HWND window = BannerWindow()) SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, kRaiseFlags);
    }

    void EnsureBanner() {
        if (banner_) return;
        BannerCallbacks callbacks;
        callbacks.chat = [door = door_](const std::string& text) {
            if (auto chat = door->Chat()) chat(text);
        };
        // Handed to the thread kept ready for it: the UI thread never waits for the end of
        // a session, and the stop needs no thread to be started when the trainee asks.
        callbacks.stop = [this, door = door_] {
            stopRunner_.Post([door] {
                if (auto stop = door->Stop()) stop();
            });
        };
        callbacks.volume = [audio = audio_](double volume, bool muted, bool persist) {
            audio->OnTraineeVolume(volume, muted, persist);
        };
        callbacks.moved = [this] {
            corner_.clear();
            RecordBannerRect();
        };
        callbacks.resized = [this] {
            if (!corner_.empty()) PlaceBannerAtCorner(corner_);
            RecordBannerRect();
        };
        auto banner = std::make_unique<TrainingBanner>(std::move(callbacks), palette_, dpi_, audio_->GetVolume(),
                                                       audio_->IsMuted());
        if (banner->Window() != nullptr) banner_ = std::move(banner);
    }

    void OpenBanner(const std::string& title, const std::string& trainer, TrainingMode mode) {
        const BannerPalette* palette = IsDarkTheme(dataDir_) ? &kDarkBannerPalette : &kLightBannerPalette;
        if (banner_ && banner_->Palette() != palette) banner_.reset();
        palette_ = palette;
        EnsureBanner();
        if (!banner_) return;
        banner_->SetHeader(title.empty() ? std::wstring(L"Sesi pelatihan") : Utf8ToUtf16(title),
                           BannerSubtitle(Utf8ToUtf16(trainer)));
        banner_->SetMode(static_cast<uint32_t>(mode), false);
        banner_->SetCompact(false);
        POINT anchor{0, 0};
        RECT foreground;
        HWND fg = GetForegroundWindow();
        if (fg && GetWindowRect(fg, &foreground) && foreground.right - foreground.left > 0) {
            anchor = {foreground.left + (foreground.right - foreground.left) / 2,
                      foreground.top + (foreground.bottom - foreground.top) / 2};
        }
        MONITORINFO info{};
        info.cbSize = sizeof info;
        if (GetMonitorInfoW(MonitorFromPoint(anchor, MONITOR_DEFAULTTONEAREST), &info)) {
            SetWindowPos(banner_->Window(), HWND_TOPMOST, info.rcWork.left, info.rcWork.top, 0, 0,
                         SWP_NOSIZE | SWP_NOACTIVATE);
        }
        PlaceBannerAtCorner(corner_.empty() ? std::string("bottom-right") : corner_);
        if (!banner_) return;
        ShowWindow(banner_->Window(), SW_SHOWNOACTIVATE);
        RecordBannerRect();
        RaiseBanner();
    }

    Box BannerWorkArea() const {
        POINT centre = BannerCentre();
        MONITORINFO info{};
        info.cbSize = sizeof info;
        if (!GetMonitorInfoW(MonitorFromPoint(centre, MONITOR_DEFAULTTONEAREST), &info)) return Box{};
        return Box{info.rcWork.left, info.rcWork.top, info.rcWork.right - info.rcWork.left,
                   info.rcWork.bottom - info.rcWork.top};
    }

    void PlaceBannerAtCorner(const std::string& corner) {
        if (!banner_) return;
        corner_ = corner;
        const Box area = BannerWorkArea();
        const int32_t margin = MulDiv(8, static_cast<int>(dpi_), 96);
        banner_->SetMaxHeight(static_cast<uint32_t>(std::max(area.height - 2 * margin, 0)));
        std::optional<Box> size = BannerWindowRect();
        if (!size) return;
        Box place = CornerRect(corner_, area, size->width, size->height, margin);
        SetWindowPos(banner_->Window(), HWND_TOPMOST, place.x, place.y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
        RecordBannerRect();
    }

    void AutoPlaceBanner(const std::vector<Box>& occupied, bool compactAllowed) {
        std::optional<Box> size = BannerWindowRect();
        if (!size) return;
        const Box area = BannerWorkArea();
        const int32_t margin = MulDiv(8, static_cast<int>(dpi_), 96);
        CornerPlacement choice = PlaceBanner(area, size->width, size->height, occupied, corner_, margin);
        if (choice.overlap > 0 && compactAllowed && !banner_->IsCompact()) {
            banner_->SetCompact(true);
            if (std::optional<Box> smaller = BannerWindowRect()) {
                choice = PlaceBanner(area, smaller->width, smaller->height, occupied, corner_, margin);
            }
        }
        PlaceBannerAtCorner(choice.corner);
        if (!banner_) return;
        WriteAuditLine("training",
                       "banner moved to " + choice.corner + (banner_->IsCompact() ? " (compact)" : "") +
                           " to keep the overlay visible",
                       "");
    }

    void ApplyBannerPosition(const std::string& position, std::optional<bool> compact, BannerPlacement& result) {
        if (!sessionOpen_ || !banner_) return;
        if (compact) banner_->SetCompact(*compact);
        if (position == "auto") {
            // A copy: placing may repaint nothing today, but the list is the overlays' own.
            std::vector<Box> occupied = occupied_;
            AutoPlaceBanner(occupied, compact.value_or(true));
        } else if (IsCornerName(position)) {
            PlaceBannerAtCorner(position);
        } else if (!corner_.empty()) {
            PlaceBannerAtCorner(corner_);
        }
        RecordBannerRect();
        if (!banner_) return;
        if (std::optional<Box> rect = BannerWindowRect()) result.rect = *rect;
        result.compact = banner_->IsCompact();
        result.corner = corner_;
        MutexLock lock(bannerMutex_);
        result.visible = bannerVisible_;
    }

    void RecordBannerRect() SV_EXCLUDES(bannerMutex_) {
        MutexLock lock(bannerMutex_);
        RECT r;
        HWND window = BannerWindow();
        if (window && IsWindowVisible(window) && GetWindowRect(window, &r)) {
            bannerRect_ = Box{r.left, r.top, r.right - r.left, r.bottom - r.top};
            bannerVisible_ = true;
        } else {
            bannerVisible_ = false;
        }
    }

    void RenderOverlay(const OverlayWindow& w, const OverlayCanvas& canvas,
                       const std::vector<const OverlayShape*>& shapes) {
        const int32_t width = w.area.monitor.Width();
        const int32_t height = w.area.monitor.Height();
        BITMAPINFO info = sv::TopDown32BitInfo(width, height);
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

    // First, so its worker runs before the UI thread starts and stops after it ends.
    const std::shared_ptr<SurfaceAudio> audio_;
    const SurfaceLimits limits_;
    const std::shared_ptr<CallbackDoor> door_;
    // One waiting stop is enough: a second press while one is handled changes nothing.
    CallbackWorker stopRunner_{1};
    std::string dataDir_;

    std::atomic<DWORD> uiThreadId_{0};
    std::atomic<HWND> msgWindow_{nullptr};
    std::atomic<bool> stopping_{false};
    uint32_t dpi_ = 96;

    // Three leaves: none is taken while another is held.
    Mutex stateMutex_;
    CondVar stateSignal_;
    bool ready_ SV_GUARDED_BY(stateMutex_) = false;  // the UI thread has its window, or never will
    bool ended_ SV_GUARDED_BY(stateMutex_) = false;  // the UI thread has left its loop and cleaned up

    Mutex workMutex_;
    std::deque<std::shared_ptr<UiWork>> work_ SV_GUARDED_BY(workMutex_);
    bool workClosed_ SV_GUARDED_BY(workMutex_) = false;

    Mutex bannerMutex_;
    Box bannerRect_ SV_GUARDED_BY(bannerMutex_);
    bool bannerVisible_ SV_GUARDED_BY(bannerMutex_) = false;

    // Owned by the UI thread.
    bool sessionOpen_ = false;  // between BeginSession and EndSession
    const BannerPalette* palette_ = nullptr;
    std::unique_ptr<TrainingBanner> banner_;
    std::string corner_ = "bottom-right";

    OverlayShapeList shapes_;
    std::vector<OverlayWindow> windows_;
    std::vector<Box> occupied_;
};

class Win32Surface : public ITrainingSurface {
public:
    Win32Surface(const std::string& dataDir, AudioDevices devices, const SurfaceLimits& limits)
        : limits_(limits),
          door_(std::make_shared<CallbackDoor>(this)),
          core_(std::make_shared<SurfaceCore>(dataDir, std::move(devices), limits, door_)) {
        core_->StopRunner().Start(nullptr, nullptr);
        uiThread_ = DetachableThread([core = core_] { core->UiThreadMain(); });
        core_->WaitReady(kReadyWaitMs);
    }

    ~Win32Surface() override {
        door_->Close();
        core_->StopRunner().StopWithin(std::chrono::milliseconds(limits_.stopJoinMs));
        // A UI thread stuck in a call is let go; it holds the core until it returns.
        if (core_->Close(limits_.uiJoinMs)) {
            uiThread_.Join();
        } else {
            uiThread_.LetGo();
        }
        core_->Audio().Stop();
    }

    void BeginSession(const TrainingSession& session) override { core_->BeginSession(session); }
    void EndSession(const std::string&) override { core_->EndSession(); }
    void SetMode(TrainingMode mode, bool aiPaused) override { core_->SetMode(mode, aiPaused); }
    void SetStep(std::optional<int32_t> index, std::optional<int32_t> total, const std::string& text) override {
        core_->SetStep(index, total, text);
    }
    void ShowOverlay(const OverlayShape& shape) override { core_->ShowOverlay(shape); }
    void ClearOverlays(const std::string& id) override { core_->ClearOverlays(id); }
    void AppendChat(const ChatMessage& message) override { core_->AppendChat(message); }
    SpeechOutcome Speak(const SpeechRequest& request, uint32_t timeoutMs) override {
        return core_->Audio().Speak(request, timeoutMs);
    }
    SpeechOutcome PlayAudio(const AudioClipRequest& request, uint32_t timeoutMs) override {
        return core_->Audio().PlayAudio(request, timeoutMs);
    }
    std::vector<VoiceInfo> ListVoices(bool refresh) override { return core_->Audio().ListVoices(refresh); }
    BannerState GetBannerState() override { return core_->GetBannerState(); }
    BannerPlacement SetBannerPosition(const std::string& position, std::optional<bool> compact) override {
        return core_->SetBannerPosition(position, compact);
    }
    bool IsMuted() override { return core_->Audio().IsMuted(); }
    double GetVolume() override { return core_->Audio().GetVolume(); }

private:
    const SurfaceLimits limits_;
    const std::shared_ptr<CallbackDoor> door_;
    const std::shared_ptr<SurfaceCore> core_;
    DetachableThread uiThread_;
};

}  // namespace

std::unique_ptr<ITrainingSurface> MakeWin32Surface(const std::string& dataDir) {
    return MakeWin32Surface(dataDir, MakeSystemAudioDevices(), SurfaceLimits{});
}

std::unique_ptr<ITrainingSurface> MakeWin32Surface(const std::string& dataDir, AudioDevices devices,
                                                   const SurfaceLimits& limits) {
    return std::make_unique<Win32Surface>(dataDir, std::move(devices), limits);
}

}  // namespace training
}  // namespace sv
