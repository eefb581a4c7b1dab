#include "app/host_window.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <shellapi.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <cwchar>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/host_run_task.h"
#include "app/host_window_layout.h"
#include "base/text_encoding.h"
#include "base/ui_theme.h"
#include "base/wall_clock.h"
#include "base/worker_group.h"
#include "resources/version.h"
#include "session/host.h"
#include "session/tools/clipboard.h"

namespace sv {
namespace {

const wchar_t kWindowClass[] = L"SorvaneHostWin7";
const wchar_t kShowMessageName[] = L"SorvaneHostWin7.Show";
constexpr int kIconResource = SV_RES_APP_ICON;
constexpr UINT kTrayMessage = WM_APP + 1;
constexpr UINT kRotationDone = WM_APP + 2;  // posted by the rotation's thread
constexpr UINT kTrayId = 1;
constexpr UINT_PTR kWatchTimer = 1;
// A tray that is not there yet (Explorer starting at log-on, or restarting) is asked
// again every two seconds for about a minute; "TaskbarCreated" starts a new round.
constexpr UINT_PTR kTrayRetryTimer = 2;
constexpr UINT kTrayRetryMs = 2000;
constexpr int kTrayRetries = 30;
// How long the first sizing waits for the host-run task to pick the identity.
constexpr std::chrono::milliseconds kDecisionWait{2000};

namespace gp = Gdiplus::DllExports;

Gdiplus::ARGB Rgb(uint32_t rgb) { return 0xFF000000u | (rgb & 0xFFFFFFu); }

const uint32_t kBackground = 0xF3F4F6;
const uint32_t kCardFill = 0xFFFFFF;
const uint32_t kBorder = 0xE5E7EB;
const uint32_t kHoverFill = 0xF9FAFB;
const uint32_t kPrimaryText = 0x1A1A2E;
const uint32_t kSecondaryText = 0x6B7280;

UiFont MakeBoldFont(Gdiplus::GpFontFamily* family, float sizePx) {
    Gdiplus::GpFont* font = nullptr;
    if (gp::GdipCreateFont(family, sizePx, Gdiplus::FontStyleBold, Gdiplus::UnitPixel, &font) != Gdiplus::Ok) {
        font = nullptr;
    }
    gp::GdipDeleteFontFamily(family);
    return UiFont(font);
}

// The value font. Consolas is not everywhere, and a font of a missing family draws
// nothing: the generic monospace family comes next, then the interface's own face.
UiFont MakeValueFont(float sizePx) {
    Gdiplus::GpFontFamily* family = nullptr;
    if (gp::GdipCreateFontFamilyFromName(L"Consolas", nullptr, &family) == Gdiplus::Ok && family != nullptr) {
        if (UiFont font = MakeBoldFont(family, sizePx)) return font;
    }
    family = nullptr;
    if (gp::GdipGetGenericFontFamilyMonospace(&family) == Gdiplus::Ok && family != nullptr) {
        if (UiFont font = MakeBoldFont(family, sizePx)) return font;
    }
    return CreateUiFont(UiFontWeight::SemiBold, sizePx);
}

struct Fonts {
    UiFont title, subtitle, hint, heading, label, value, button;
    explicit Fonts(float f) {
        title = CreateUiFont(UiFontWeight::SemiBold, 20.0f * f);
        subtitle = CreateUiFont(UiFontWeight::Regular, 14.0f * f);
        hint = CreateUiFont(UiFontWeight::Regular, 15.33f * f);
        heading = CreateUiFont(UiFontWeight::SemiBold, 21.33f * f);
        label = CreateUiFont(UiFontWeight::Regular, 13.33f * f);
        value = MakeValueFont(29.33f * f);
        button = CreateUiFont(UiFontWeight::Regular, 14.0f * f);
    }
};

// One GDI+ string format, freed with it.
struct Format {
    Gdiplus::GpStringFormat* p = nullptr;
    Format(Gdiplus::StringAlignment align, Gdiplus::StringAlignment lineAlign, bool wrap) {
        if (gp::GdipCreateStringFormat(0, LANG_NEUTRAL, &p) != Gdiplus::Ok) {
            p = nullptr;
            return;
        }
        gp::GdipSetStringFormatAlign(p, align);
        gp::GdipSetStringFormatLineAlign(p, lineAlign);
        if (!wrap) {
            gp::GdipSetStringFormatFlags(p, Gdiplus::StringFormatFlagsNoWrap);
            gp::GdipSetStringFormatTrimming(p, Gdiplus::StringTrimmingCharacter);
        }
    }
    ~Format() {
        if (p != nullptr) gp::GdipDeleteStringFormat(p);
    }
    Format(const Format&) = delete;
    Format& operator=(const Format&) = delete;
};

Gdiplus::RectF ToGdi(const RectF& r) { return Gdiplus::RectF(r.x, r.y, r.w, r.h); }

Gdiplus::RectF Measure(Gdiplus::GpGraphics* g, Gdiplus::GpFont* font, const std::wstring& text, float width) {
    Gdiplus::RectF box(0, 0, 0, 0);
    if (font == nullptr || text.empty()) return box;
    Format format(Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentNear, width > 0);
    Gdiplus::RectF area(0, 0, width, 0);
    gp::GdipMeasureString(g, text.c_str(), static_cast<INT>(text.size()), font, &area, format.p, &box, nullptr,
                          nullptr);
    return box;
}

float MeasureHintHeight(Gdiplus::GpGraphics* g, Gdiplus::GpFont* font, const std::wstring& text, float factor) {
    return Measure(g, font, text, kHintWidth * factor).Height;
}

void FillRounded(Gdiplus::GpGraphics* g, const RectF& r, float radius, uint32_t fill, bool outline, float factor) {
    Gdiplus::GpPath* path = nullptr;
    if (gp::GdipCreatePath(Gdiplus::FillModeAlternate, &path) != Gdiplus::Ok) return;
    // AddRoundedRectPath: arcs of twice the radius at 180, 270, 0 and 90 degrees.
    const float d = radius * 2;
    gp::GdipAddPathArc(path, r.x, r.y, d, d, 180, 90);
    gp::GdipAddPathArc(path, r.x + r.w - d, r.y, d, d, 270, 90);
    gp::GdipAddPathArc(path, r.x + r.w - d, r.y + r.h - d, d, d, 0, 90);
    gp::GdipAddPathArc(path, r.x, r.y + r.h - d, d, d, 90, 90);
    gp::GdipClosePathFigure(path);
    Gdiplus::GpSolidFill* brush = nullptr;
    if (gp::GdipCreateSolidFill(Rgb(fill), &brush) == Gdiplus::Ok) {
        gp::GdipFillPath(g, brush, path);
        gp::GdipDeleteBrush(brush);
    }
    Gdiplus::GpPen* pen = nullptr;
    if (outline && gp::GdipCreatePen1(Rgb(kBorder), 1.0f * factor, Gdiplus::UnitPixel, &pen) == Gdiplus::Ok) {
        gp::GdipDrawPath(g, pen, path);
        gp::GdipDeletePen(pen);
    }
    gp::GdipDeletePath(path);
}

void FillDot(Gdiplus::GpGraphics* g, const RectF& r, uint32_t color) {
    Gdiplus::GpSolidFill* brush = nullptr;
    if (gp::GdipCreateSolidFill(Rgb(color), &brush) != Gdiplus::Ok) return;
    gp::GdipFillEllipse(g, brush, r.x, r.y, r.w, r.h);
    gp::GdipDeleteBrush(brush);
}

void DrawText(Gdiplus::GpGraphics* g, const std::wstring& text, Gdiplus::GpFont* font, const RectF& r,
              uint32_t color, Gdiplus::StringAlignment align = Gdiplus::StringAlignmentNear,
              Gdiplus::StringAlignment lineAlign = Gdiplus::StringAlignmentNear, bool wrap = true) {
    if (font == nullptr) return;
    Gdiplus::GpSolidFill* brush = nullptr;
    if (gp::GdipCreateSolidFill(Rgb(color), &brush) != Gdiplus::Ok) return;
    Format format(align, lineAlign, wrap);
    const Gdiplus::RectF box = ToGdi(r);
    gp::GdipDrawString(g, text.c_str(), static_cast<INT>(text.size()), font, &box, format.p, brush);
    gp::GdipDeleteBrush(brush);
}

HostWindowLayout Layout(Gdiplus::GpGraphics* g, const Fonts& fonts, const HostViewState& state, float factor) {
    HostTextMeasure measure;
    measure.statusWidth = [&](const std::wstring& t) { return Measure(g, fonts.subtitle.get(), t, 0).Width; };
    measure.buttonWidth = [&](const std::wstring& t) { return Measure(g, fonts.button.get(), t, 0).Width; };
    measure.detailHeight = [&](const std::wstring& t) { return MeasureHintHeight(g, fonts.hint.get(), t, factor); };
    return LayoutHostWindow(state, factor,
                            MeasureHintHeight(g, fonts.hint.get(), CardHint(state.card, state.notes), factor), measure);
}

void ShowHostWindow(HWND hwnd) {
    ShowWindow(hwnd, SW_SHOW);
    ShowWindow(hwnd, SW_RESTORE);
    SetForegroundWindow(hwnd);
}

void ShowTrayMenu(HWND hwnd) {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return;
    AppendMenuW(menu, MF_STRING, kCommandShow, HostTexts().menuShow.c_str());
    AppendMenuW(menu, MF_STRING, kCommandCopyHostId, HostTexts().menuCopyHostId.c_str());
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kCommandExit, HostTexts().menuExit.c_str());
    POINT cursor;
    GetCursorPos(&cursor);
    SetForegroundWindow(hwnd);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, hwnd, nullptr);
    PostMessageW(hwnd, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

// The hint's height, and the line's under the pill (`detail`, in the hint's font), decide
// the window's; measured on a scratch graphics.
int ClientHeight(HostCard card, const CardNotes& notes, const std::wstring& detail, float f) {
    HDC screen = GetDC(nullptr);
    float hintHeight = 0.0f;
    float detailHeight = 0.0f;
    Gdiplus::GpGraphics* g = nullptr;
    if (screen != nullptr && gp::GdipCreateFromHDC(screen, &g) == Gdiplus::Ok) {
        UiFont hint = CreateUiFont(UiFontWeight::Regular, 15.33f * f);
        hintHeight = MeasureHintHeight(g, hint.get(), CardHint(card, notes), f);
        if (!detail.empty()) detailHeight = std::ceil(MeasureHintHeight(g, hint.get(), detail, f));
        gp::GdipDeleteGraphics(g);
    }
    ReleaseDC(nullptr, screen);
    return static_cast<int>(std::ceil(HostClientHeight(hintHeight / f, RowsForCard(card), detailHeight / f) * f));
}

HICON LoadAppIcon(int size) {
    return static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

// Lets a registered message through from a process at another integrity level: the
// Show message of a second instance, Explorer's "TaskbarCreated" (looked up at run time:
// the call is Windows 7's own).
void AllowMessage(HWND hwnd, UINT message) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) return;
    using FilterFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    auto filter = reinterpret_cast<FilterFn>(reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilterEx")));
    if (filter != nullptr) filter(hwnd, message, 1 /* MSGFLT_ALLOW */, nullptr);
}

}  // namespace

struct HostWindow::State {
    Host* host_;
    const HostRunState* runState_;
    WorkerGroup* work_;
    UsageHooks usage_;
    HostWindowSeams seams_;
    // Read by other threads (PostExit); everything else is the window thread's own.
    std::atomic<HWND> window_{nullptr};
    bool ran_ = false;
    HostCard card_ = HostCard::Classic;  // the card the window is sized for
    CardNotes notes_;                    // and what else decides its height
    // The relay's trouble the window is sized for, and the line under the pill it makes;
    // paints show this one, so that the line always has its room.
    ConnectFailure sizedFailure_ = ConnectFailure::None;
    std::wstring sizedClock_;
    std::wstring sizedDetail_;
    bool rotating_ = false;              // a rotation runs on a thread of `work_`
    UINT taskbarCreated_ = 0;
    int trayRetriesLeft_ = 0;
    float factor_ = 1.0f;
    HICON cardIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HICON bigIcon_ = nullptr;
    NOTIFYICONDATAW tray_ = {};
    UINT showMessage_ = 0;
    std::vector<HostButton> buttons_;
    int hovered_ = 0;
    bool tracking_ = false;
    bool paintedRegistered_ = false;
    uint32_t paintedControllers_ = 0;
    bool paintedEnded_ = false;
    std::string paintedPassword_;

    State(Host& host, const HostRunState& run, WorkerGroup& work, UsageHooks usage, HostWindowSeams seams)
        : host_(&host), runState_(&run), work_(&work), usage_(std::move(usage)), seams_(std::move(seams)) {}

    void TrackAction(const char* action) {
        if (usage_.trackAction) usage_.trackAction(action);
    }
    void TrackScreen(const char* screen) {
        if (usage_.trackScreenView) usage_.trackScreenView(screen);
    }

    // The object rides in the window's user data from WM_NCCREATE to WM_NCDESTROY; the few
    // messages before it go to the default procedure.
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<State*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            self->window_.store(nullptr);
            return DefWindowProcW(hwnd, message, wParam, lParam);
        }
        return self->Handle(hwnd, message, wParam, lParam);
    }

    HostViewState ReadHost() {
        HostViewState state;
        Host* host = host_;
        if (host == nullptr) return state;
        // The card, notes and relay line the window is sized for; the timer moves them on
        // together.
        state.card = card_;
        state.notes = notes_;
        state.rotating = rotating_;
        state.registered = host->IsRegistered();
        state.controllers = host->ConnectedControllers();
        const HostRunState::Snapshot run = runState_->Get();
        state.deviceId = run.deviceId;
        state.ended = run.ended;
        state.hostId = Utf8ToUtf16(host->HostId());
        state.password = Utf8ToUtf16(host->Password());
        state.relayFailure = sizedFailure_;
        state.nextTryClock = sizedClock_;
        return state;
    }

    void Paint(Gdiplus::GpGraphics* g, HDC dc) {
        const float f = factor_;
        gp::GdipSetSmoothingMode(g, Gdiplus::SmoothingModeAntiAlias);
        gp::GdipSetTextRenderingHint(g, Gdiplus::TextRenderingHintAntiAliasGridFit);
        gp::GdipSetPixelOffsetMode(g, Gdiplus::PixelOffsetModeHalf);
        gp::GdipGraphicsClear(g, Rgb(kBackground));

        // The card the window is sized for; the timer moves both on together.
        const HostViewState state = ReadHost();
        paintedRegistered_ = state.registered;
        paintedControllers_ = state.controllers;
        paintedEnded_ = state.ended;
        paintedPassword_ = Utf16ToUtf8(state.password);

        Fonts fonts(f);
        HostWindowLayout l = Layout(g, fonts, state, f);

        DrawText(g, HostTexts().title, fonts.title.get(), l.title, kPrimaryText);
        DrawText(g, HostTexts().subtitle, fonts.subtitle.get(), l.subtitle, kSecondaryText);
        FillRounded(g, l.card, 20 * f, kCardFill, true, f);
        DrawText(g, l.heading, fonts.heading.get(), l.headingRect, kPrimaryText);
        DrawText(g, l.hint, fonts.hint.get(), l.hintRect, kSecondaryText);

        // Amber while the relay cannot be reached: neither online nor merely on its way.
        const bool down = !l.detail.empty();
        FillRounded(g, l.pill, l.pill.h / 2, state.registered ? 0xDCFCE7 : down ? 0xFEF3C7 : 0xF3F4F6, false, f);
        FillDot(g, l.dot, state.registered ? 0x16A34A : down ? 0xD97706 : 0x9CA3AF);
        const RectF statusRect = {l.pillTextX, l.pill.y, l.pill.x + l.pill.w - l.pillTextX, l.pill.h};
        DrawText(g, l.status, fonts.subtitle.get(), statusRect, kPrimaryText, Gdiplus::StringAlignmentNear,
                 Gdiplus::StringAlignmentCenter, false);
        if (down) DrawText(g, l.detail, fonts.hint.get(), l.detailRect, kPrimaryText);

        for (const HostFieldRow& row : l.rows) {
            DrawText(g, row.label, fonts.label.get(), row.labelRect, kSecondaryText);
            DrawText(g, row.value, fonts.value.get(), row.valueRect, kPrimaryText, Gdiplus::StringAlignmentNear,
                     Gdiplus::StringAlignmentCenter, false);
        }
        for (const HostButton& b : l.buttons) {
            FillRounded(g, b.rect, 8 * f, b.id == hovered_ ? kHoverFill : kCardFill, true, f);
            DrawText(g, b.label, fonts.button.get(), b.rect, b.enabled ? kPrimaryText : kSecondaryText,
                     Gdiplus::StringAlignmentCenter, Gdiplus::StringAlignmentCenter, false);
        }
        buttons_ = l.buttons;
        if (seams_.painted) seams_.painted(l.buttons);

        // The icon keeps its alpha only through GDI.
        gp::GdipFlush(g, Gdiplus::FlushIntentionSync);
        if (cardIcon_ != nullptr) {
            DrawIconEx(dc, static_cast<int>(l.icon.x), static_cast<int>(l.icon.y), cardIcon_,
                       static_cast<int>(l.icon.w), static_cast<int>(l.icon.h), 0, nullptr, DI_NORMAL);
        }
    }

    void CopyHostId() {
        if (host_ != nullptr) SetClipboardFromUtf8(host_->HostId());
    }

    // Rotation restarts the LAN listener and sends through the relay's send lock, which a
    // frame may hold for the whole write time-out: it runs on a thread of its own, one at a
    // time, and the window only learns that it ended.
    void StartRotation(HWND hwnd) {
        if (rotating_ || work_ == nullptr) return;
        Host* host = host_;
        std::function<void()> rotate = seams_.rotatePassword;
        if (!rotate) rotate = [host] { host->RotatePassword(); };
        rotating_ = work_->Start([rotate, hwnd] {
            try {
                rotate();
            } catch (...) {
                // The old password stays; the button comes back all the same.
            }
            PostMessageW(hwnd, kRotationDone, 0, 0);
        });
        InvalidateRect(hwnd, nullptr, FALSE);
    }

    void OnHostButton(HWND hwnd, int id) {
        Host* host = host_;
        if (host == nullptr) return;
        switch (id) {
        case kButtonCopyHostId:
            TrackAction("copy_host_id");
            CopyHostId();
            break;
        case kButtonNewPassword:
            TrackAction("new_password");
            StartRotation(hwnd);
            break;
        case kButtonCopyPassword:
            TrackAction("copy_password");
            SetClipboardFromUtf8(host->Password());
            break;
        default:
            break;
        }
    }

    bool NotifyIcon(HostWindowSeams::TrayOp op) {
        if (seams_.notifyIcon) return seams_.notifyIcon(op);
        const DWORD message = op == HostWindowSeams::TrayOp::Add      ? NIM_ADD
                              : op == HostWindowSeams::TrayOp::Modify ? NIM_MODIFY
                                                                      : NIM_DELETE;
        return Shell_NotifyIconW(message, &tray_) != FALSE;
    }

    // Adds the icon; when the tray refuses, asks again on a timer, a bounded number of times.
    // An icon that is still there (a "TaskbarCreated" without a restart) takes the update.
    void AddTrayIcon(HWND hwnd, bool newRound) {
        if (newRound) trayRetriesLeft_ = kTrayRetries;
        if (NotifyIcon(HostWindowSeams::TrayOp::Add) || NotifyIcon(HostWindowSeams::TrayOp::Modify)) {
            KillTimer(hwnd, kTrayRetryTimer);
            return;
        }
        if (trayRetriesLeft_ > 0) {
            --trayRetriesLeft_;
            SetTimer(hwnd, kTrayRetryTimer, kTrayRetryMs, nullptr);
        } else {
            KillTimer(hwnd, kTrayRetryTimer);
        }
    }

    // Sizes the window for its card: centred on the primary screen the first time, around
    // its own centre after that.
    void Fit(HWND hwnd, DWORD style, bool first) {
        RECT rect = {0, 0, static_cast<LONG>(std::lround(540 * factor_)),
                     ClientHeight(card_, notes_, sizedDetail_, factor_)};
        AdjustWindowRectEx(&rect, style, FALSE, 0);
        const int w = rect.right - rect.left;
        const int h = rect.bottom - rect.top;
        int cx = GetSystemMetrics(SM_CXSCREEN) / 2;
        int cy = GetSystemMetrics(SM_CYSCREEN) / 2;
        RECT now;
        if (!first && GetWindowRect(hwnd, &now)) {
            // Re-centring a window of the same size could move it by the division's
            // rounding at every change of the line under the pill.
            if (now.right - now.left == w && now.bottom - now.top == h) return;
            cx = (now.left + now.right) / 2;
            cy = (now.top + now.bottom) / 2;
        }
        SetWindowPos(hwnd, nullptr, cx - w / 2, cy - h / 2, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    }

    LRESULT Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (showMessage_ != 0 && message == showMessage_) {
            TrackScreen("window");
            ShowHostWindow(hwnd);
            return 0;
        }
        if (taskbarCreated_ != 0 && message == taskbarCreated_) {
            // Explorer (re)started: every icon it showed is gone.
            AddTrayIcon(hwnd, true);
            return 0;
        }
        switch (message) {
        case WM_CREATE:
            window_.store(hwnd);
            SetTimer(hwnd, kWatchTimer, 1000, nullptr);
            return 0;
        case WM_TIMER: {
            if (wParam == kTrayRetryTimer) {
                AddTrayIcon(hwnd, false);
                return 0;
            }
            Host* host = host_;
            const HostRunState::Snapshot run = runState_->Get();
            const HostCard card = CardFor(run);
            const CardNotes notes = NotesFor(run, host);
            // A relay that cannot be reached adds its line, which moves on at every attempt.
            HostViewState now;
            now.card = card;
            now.ended = run.ended;
            now.registered = host != nullptr && host->IsRegistered();
            if (host != nullptr && !now.registered) {
                const RelayOutage outage = host->RelayDown();
                now.relayFailure = outage.cause;
                if (outage.cause != ConnectFailure::None) {
                    now.nextTryClock = Utf8ToUtf16(LocalClockAt(static_cast<std::time_t>(outage.nextTry)));
                }
            }
            const std::wstring detail = DetailText(now);
            if (card != card_ || notes != notes_ || detail != sizedDetail_) {
                card_ = card;
                notes_ = notes;
                sizedFailure_ = now.relayFailure;
                sizedClock_ = now.nextTryClock;
                sizedDetail_ = detail;
                Fit(hwnd, static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)), false);
                InvalidateRect(hwnd, nullptr, FALSE);
                return 0;
            }
            if (host != nullptr &&
                (run.ended != paintedEnded_ || host->IsRegistered() != paintedRegistered_ ||
                 host->ConnectedControllers() != paintedControllers_ ||
                 host->Password() != paintedPassword_)) {
                InvalidateRect(hwnd, nullptr, FALSE);
            }
            return 0;
        }
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            RECT client;
            GetClientRect(hwnd, &client);
            const int w = client.right - client.left;
            const int h = client.bottom - client.top;
            HDC memory = CreateCompatibleDC(dc);
            HBITMAP bitmap = CreateCompatibleBitmap(dc, w > 0 ? w : 1, h > 0 ? h : 1);
            if (memory != nullptr && bitmap != nullptr) {
                HGDIOBJ old = SelectObject(memory, bitmap);
                Gdiplus::GpGraphics* graphics = nullptr;
                if (gp::GdipCreateFromHDC(memory, &graphics) == Gdiplus::Ok) {
                    Paint(graphics, memory);
                    gp::GdipDeleteGraphics(graphics);
                }
                BitBlt(dc, 0, 0, w, h, memory, 0, 0, SRCCOPY);
                SelectObject(memory, old);
            }
            if (bitmap != nullptr) DeleteObject(bitmap);
            if (memory != nullptr) DeleteDC(memory);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_SETCURSOR:
            if (LOWORD(lParam) == HTCLIENT && hovered_ != 0) {
                SetCursor(LoadCursorW(nullptr, IDC_HAND));
                return TRUE;
            }
            break;
        case WM_MOUSEMOVE: {
            if (!tracking_) {
                TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, hwnd, 0};
                tracking_ = TrackMouseEvent(&track) != FALSE;
            }
            const int hit = HitTestHostButton(buttons_, static_cast<float>(static_cast<short>(LOWORD(lParam))),
                                              static_cast<float>(static_cast<short>(HIWORD(lParam))));
            if (hit != hovered_) {
                hovered_ = hit;
                InvalidateRect(hwnd, nullptr, FALSE);
            }
            return 0;
        }
        case WM_MOUSELEAVE:
            tracking_ = false;
            if (hovered_ != 0) {
                hovered_ = 0;
                InvalidateRect(hwnd, nullptr, FALSE);
            }
            return 0;
        case WM_LBUTTONUP: {
            const int hit = HitTestHostButton(buttons_, static_cast<float>(static_cast<short>(LOWORD(lParam))),
                                              static_cast<float>(static_cast<short>(HIWORD(lParam))));
            if (hit != 0) OnHostButton(hwnd, hit);
            return 0;
        }
        case WM_CLOSE:
            TrackScreen("tray");
            ShowWindow(hwnd, SW_HIDE);
            return 0;
        case WM_DESTROY:
            NotifyIcon(HostWindowSeams::TrayOp::Delete);
            KillTimer(hwnd, kWatchTimer);
            KillTimer(hwnd, kTrayRetryTimer);
            PostQuitMessage(0);
            return 0;
        case kRotationDone:
            rotating_ = false;
            InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
            case kCommandShow:
                TrackAction("show_window");
                TrackScreen("window");
                ShowHostWindow(hwnd);
                return 0;
            case kCommandCopyHostId:
                TrackAction("copy_host_id");
                CopyHostId();
                return 0;
            case kCommandExit:
                TrackAction("exit");
                DestroyWindow(hwnd);
                return 0;
            default:
                break;
            }
            break;
        case kTrayMessage:
            switch (LOWORD(lParam)) {
            case WM_LBUTTONUP:
            case WM_LBUTTONDBLCLK:
                TrackScreen("window");
                ShowHostWindow(hwnd);
                return 0;
            case WM_RBUTTONUP:
                ShowTrayMenu(hwnd);
                return 0;
            default:
                return 0;
            }
        default:
            break;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    int Run();
};

HostCard CardFor(const HostRunState::Snapshot& run) {
    switch (run.rejection) {
    case DeviceRejection::Revoked:
        return HostCard::Revoked;
    case DeviceRejection::AuthFailed:
        return HostCard::AuthFailed;
    case DeviceRejection::None:
        break;
    }
    switch (run.phase) {
    case HostRunState::Phase::Enrolling:
        return HostCard::Enrolling;
    case HostRunState::Phase::Enrolled:
        return HostCard::Enrolled;
    case HostRunState::Phase::EnrolFailed:
        return HostCard::EnrolFailed;
    case HostRunState::Phase::Starting:
    case HostRunState::Phase::Classic:
        break;
    }
    return HostCard::Classic;
}

CardNotes NotesFor(const HostRunState::Snapshot& run, Host* host) {
    CardNotes notes;
    notes.enrolFailure = run.enrolFailure;
    if (host != nullptr) {
        const UnstoredIdentity unstored = host->IdentityNotStored();
        notes.hostIdNotStored = unstored.hostId;
        notes.passwordNotStored = unstored.password;
    }
    return notes;
}

HostWindow::HostWindow(Host& host, const HostRunState& state, WorkerGroup& work, UsageHooks usage,
                       HostWindowSeams seams)
    : state_(std::make_unique<State>(host, state, work, std::move(usage), std::move(seams))) {}

HostWindow::~HostWindow() = default;

int HostWindow::Run() { return state_->Run(); }

void HostWindow::PostExit() {
    HWND hwnd = state_->window_.load();
    if (hwnd != nullptr) PostMessageW(hwnd, WM_COMMAND, kCommandExit, 0);
}

int HostWindow::State::Run() {
    if (ran_) return 0;
    ran_ = true;
    const HostRunState::Snapshot decided = runState_->WaitDecided(kDecisionWait);
    card_ = CardFor(decided);
    notes_ = NotesFor(decided, host_);
    {
        HDC screen = GetDC(nullptr);
        const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
        if (screen != nullptr) ReleaseDC(nullptr, screen);
        factor_ = dpi > 0 ? static_cast<float>(dpi) / 96.0f : 1.0f;
    }
    LoadUiFonts();

    HINSTANCE instance = GetModuleHandleW(nullptr);
    cardIcon_ = LoadAppIcon(static_cast<int>(std::lround(40 * factor_)));
    smallIcon_ = LoadAppIcon(GetSystemMetrics(SM_CXSMICON));
    bigIcon_ = LoadAppIcon(GetSystemMetrics(SM_CXICON));

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hIcon = bigIcon_;
    wc.hIconSm = smallIcon_;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);

    showMessage_ = RegisterWindowMessageW(kShowMessageName);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    HWND hwnd = CreateWindowExW(0, kWindowClass, HostTexts().title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT, 10,
                                10, nullptr, nullptr, instance, this);
    if (hwnd != nullptr) {
        if (showMessage_ != 0) AllowMessage(hwnd, showMessage_);
        taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
        if (taskbarCreated_ != 0) AllowMessage(hwnd, taskbarCreated_);
        if (smallIcon_ != nullptr) SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
        if (bigIcon_ != nullptr) SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));

        Fit(hwnd, style, true);

        tray_ = {};
        tray_.cbSize = sizeof(tray_);
        tray_.hWnd = hwnd;
        tray_.uID = kTrayId;
        tray_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        tray_.uCallbackMessage = kTrayMessage;
        tray_.hIcon = smallIcon_ != nullptr ? smallIcon_ : LoadIconW(nullptr, IDI_APPLICATION);
        lstrcpynW(tray_.szTip, kTrayTip, 128);
        AddTrayIcon(hwnd, true);

        TrackScreen("window");
        ShowWindow(hwnd, SW_SHOW);
        UpdateWindow(hwnd);

        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    window_.store(nullptr);
    for (HICON icon : {cardIcon_, smallIcon_, bigIcon_}) {
        if (icon != nullptr) DestroyIcon(icon);
    }
    return 0;
}

}  // namespace sv
