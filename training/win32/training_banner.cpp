#include "training/win32/training_banner.h"

#include <windows.h>
#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>
#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "base/text_encoding.h"
#include "training/win32/gdiplus_handles.h"

namespace sv {
namespace training {
namespace {

namespace gp = Gdiplus::DllExports;
using namespace gdiplus_handles;
using Gdiplus::GpGraphics;

constexpr UINT_PTR kRaiseTimer = 2;
constexpr UINT_PTR kPulseTimer = 3;
constexpr UINT_PTR kInputSubclass = 1;
constexpr DWORD kExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT;
constexpr DWORD kStyle = WS_POPUP | WS_CLIPCHILDREN;
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW;

struct Graphics {
    GpGraphics* g = nullptr;
    explicit Graphics(HDC dc) {
        if (gp::GdipCreateFromHDC(dc, &g) == Gdiplus::Ok) {
            gp::GdipSetSmoothingMode(g, Gdiplus::SmoothingModeAntiAlias);
            gp::GdipSetTextRenderingHint(g, Gdiplus::TextRenderingHintAntiAliasGridFit);
        } else {
            g = nullptr;
        }
    }
    ~Graphics() {
        if (g) gp::GdipDeleteGraphics(g);
    }
};

COLORREF Rgb(uint32_t argb) { return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF); }
uint32_t Darker(uint32_t argb) {
    auto part = [&](int shift) { return static_cast<uint32_t>(((argb >> shift) & 0xFF) * 85 / 100) << shift; };
    return (argb & 0xFF000000) | part(16) | part(8) | part(0);
}

void FillRound(GpGraphics* g, float x, float y, float w, float h, float radius, uint32_t argb) {
    Path path;
    Brush brush(argb);
    if (!path.p || !brush.p) return;
    AddRoundRect(path.p, x, y, w, h, radius);
    gp::GdipFillPath(g, brush.p, path.p);
}

void OutlineRound(GpGraphics* g, float x, float y, float w, float h, float radius, uint32_t argb, float width) {
    Path path;
    Pen pen(argb, width, true);
    if (!path.p || !pen.p) return;
    AddRoundRect(path.p, x, y, w, h, radius);
    gp::GdipDrawPath(g, pen.p, path.p);
}

void DrawText(GpGraphics* g, const std::wstring& text, Gdiplus::GpFont* font, float x, float y, float w, float h,
              uint32_t argb, Gdiplus::GpStringFormat* format) {
    if (text.empty() || font == nullptr) return;
    Brush brush(argb);
    Gdiplus::RectF box(x, y, w, h);
    if (brush.p) gp::GdipDrawString(g, text.c_str(), -1, font, &box, format, brush.p);
}

void ShowChild(HWND child, const Box& box) {
    if (child == nullptr) return;
    if (box.width <= 0 || box.height <= 0) {
        ShowWindow(child, SW_HIDE);
        return;
    }
    SetWindowPos(child, nullptr, box.x, box.y, box.width, box.height, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(child, SW_SHOWNA);
}

RECT ToRect(const Box& b) { return RECT{b.x, b.y, b.x + b.width, b.y + b.height}; }

UiFontWeight WeightOf(BannerFont font) {
    switch (font) {
        case BannerFont::Title:
        case BannerFont::Button:
        case BannerFont::Name:
        case BannerFont::CompactTitle: return UiFontWeight::SemiBold;
        case BannerFont::Status:
        case BannerFont::Step: return UiFontWeight::Medium;
        default: return UiFontWeight::Regular;
    }
}

}  // namespace

TrainingBanner::TrainingBanner(BannerCallbacks callbacks, const BannerPalette* palette, uint32_t dpi, double volume,
                               bool muted)
    : callbacks_(std::move(callbacks)), palette_(palette), dpi_(dpi), muted_(muted), volume_(volume) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (!GetClassInfoExW(instance, kBannerClass, &existing)) {
        WNDCLASSEXW cls{};
        cls.cbSize = sizeof cls;
        cls.lpfnWndProc = Thunk;
        cls.hInstance = instance;
        cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(101));
        cls.lpszClassName = kBannerClass;
        RegisterClassExW(&cls);
    }
    inputBrush_ = CreateSolidBrush(Rgb(Color(BannerColor::InputBackground)));
    LOGFONTW lf{};
    lf.lfHeight = -S(15);
    lf.lfWeight = FW_NORMAL;
    lf.lfQuality = CLEARTYPE_QUALITY;
    lf.lfCharSet = DEFAULT_CHARSET;
    std::wstring face = GetUiFontFaceName(UiFontWeight::Regular);
    face.copy(lf.lfFaceName, LF_FACESIZE - 1);
    inputFont_ = CreateFontIndirectW(&lf);

    CreateWindowExW(kExStyle, kBannerClass, kBannerTitle, kStyle, 0, 0, S(396), S(400), nullptr, nullptr, instance,
                    this);
    if (window_ == nullptr) return;
    auto child = [&](const wchar_t* cls, DWORD style, const wchar_t* text, int id) {
        return CreateWindowExW(0, cls, text, style, 0, 0, 10, 10, window_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    };
    input_ = child(L"EDIT", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, L"", kBannerInputId);
    if (input_) {
        SendMessageW(input_, WM_SETFONT, reinterpret_cast<WPARAM>(inputFont_), FALSE);
        SendMessageW(input_, EM_LIMITTEXT, kBannerMaxInputChars, 0);
        SetWindowSubclass(input_, EditSubclassProc, kInputSubclass, reinterpret_cast<DWORD_PTR>(this));
    }
    send_ = child(L"BUTTON", kButtonStyle, kBannerSendText, kBannerSendId);
    end_ = child(L"BUTTON", kButtonStyle, kBannerEndText, kBannerEndId);
    mute_ = child(L"BUTTON", kButtonStyle, muted_ ? kBannerUnmuteText : kBannerMuteText, kBannerMuteId);
    chatToggle_ = child(L"BUTTON", kButtonStyle, kBannerHideChatText, kBannerChatToggleId);
    shrink_ = child(L"BUTTON", kButtonStyle, kBannerShrinkText, kBannerShrinkId);
    enlarge_ = child(L"BUTTON", kButtonStyle, kBannerEnlargeText, kBannerEnlargeId);
    compactEnd_ = child(L"BUTTON", kButtonStyle, kBannerEndText, kBannerCompactEndId);
    Layout();
    SetTimer(window_, kRaiseTimer, 1500, nullptr);
    SetTimer(window_, kPulseTimer, 90, nullptr);
}

TrainingBanner::~TrainingBanner() {
    if (window_ != nullptr) {
        closing_ = true;
        HWND window = window_;
        window_ = nullptr;
        DestroyWindow(window);
    }
    fonts_.clear();
    if (inputFont_) DeleteObject(inputFont_);
    if (inputBrush_) DeleteObject(inputBrush_);
}

LRESULT CALLBACK TrainingBanner::Thunk(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<TrainingBanner*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        if (self) self->window_ = hwnd;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    auto* self = reinterpret_cast<TrainingBanner*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    if (self == nullptr) return DefWindowProcW(hwnd, msg, wParam, lParam);
    return self->WndProc(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK TrainingBanner::EditSubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                  DWORD_PTR data) {
    auto* self = reinterpret_cast<TrainingBanner*>(data);
    // The chat scrolls while the pointer is over the input.
    if (msg == WM_MOUSEWHEEL && self->window_) return SendMessageW(self->window_, msg, wParam, lParam);
    LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
    if (msg == WM_SETFOCUS || msg == WM_KILLFOCUS) {
        self->inputFocused_ = msg == WM_SETFOCUS;
        InvalidateRect(hwnd, nullptr, TRUE);
        if (self->window_) {
            RECT frame = ToRect(self->layout_.inputFrame);
            InvalidateRect(self->window_, &frame, FALSE);
        }
    } else if (msg == WM_PAINT && GetWindowTextLengthW(hwnd) == 0 && GetFocus() != hwnd) {
        HDC dc = GetDC(hwnd);
        if (dc) {
            HGDIOBJ old = SelectObject(dc, self->inputFont_);
            SetTextColor(dc, Rgb(self->Color(BannerColor::SecondaryText)));
            SetBkMode(dc, TRANSPARENT);
            RECT rc;
            GetClientRect(hwnd, &rc);
            rc.left += 2;
            DrawTextW(dc, kBannerPlaceholder, -1, &rc, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
            SelectObject(dc, old);
            ReleaseDC(hwnd, dc);
        }
    }
    return result;
}

LRESULT TrainingBanner::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_DESTROY) {
        KillTimer(hwnd, kRaiseTimer);
        KillTimer(hwnd, kPulseTimer);
        if (input_) RemoveWindowSubclass(input_, EditSubclassProc, kInputSubclass);
        input_ = send_ = end_ = mute_ = chatToggle_ = shrink_ = enlarge_ = compactEnd_ = nullptr;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    if (window_ == nullptr) return DefWindowProcW(hwnd, msg, wParam, lParam);
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            if (dc) Paint(dc, ps.rcPaint);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_CLOSE:
            if (closing_) DestroyWindow(hwnd);
            return 0;
        case WM_SYSCOMMAND: {
            const WPARAM command = wParam & 0xFFF0;
            if (command == SC_CLOSE || command == SC_MINIMIZE) return 0;
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        }
        case WM_NCHITTEST: {
            LRESULT hit = DefWindowProcW(hwnd, msg, wParam, lParam);
            if (hit != HTCLIENT) return hit;
            POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            ScreenToClient(hwnd, &p);
            return BannerDragsAt(layout_, p.x, p.y) ? HTCAPTION : HTCLIENT;
        }
        case WM_EXITSIZEMOVE:
            if (callbacks_.moved) callbacks_.moved();
            return 0;
        case WM_TIMER:
            if (wParam == kRaiseTimer) {
                if (!closing_) {
                    SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
                }
            } else if (wParam == kPulseTimer) {
                ++pulse_;
                RECT dot = ToRect(layout_.dot);
                InflateRect(&dot, 1, 1);
                InvalidateRect(hwnd, &dot, FALSE);
            }
            return 0;
        case WM_CTLCOLOREDIT:
            SetBkColor(reinterpret_cast<HDC>(wParam), Rgb(Color(BannerColor::InputBackground)));
            SetTextColor(reinterpret_cast<HDC>(wParam), Rgb(Color(BannerColor::Text)));
            return reinterpret_cast<LRESULT>(inputBrush_);
        case WM_DRAWITEM:
            if (lParam) DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return 0;
        case WM_LBUTTONDOWN: {
            const int32_t x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
            const Box& s = layout_.slider;
            if (!compact_ && x >= s.x && x < s.x + s.width && y >= s.y && y < s.y + s.height) {
                draggingVolume_ = true;
                SetCapture(hwnd);
                SetVolumeFromX(x, false);
            }
            return 0;
        }
        case WM_MOUSEMOVE:
            if (draggingVolume_) SetVolumeFromX(GET_X_LPARAM(lParam), false);
            return 0;
        case WM_LBUTTONUP:
            if (draggingVolume_) {
                draggingVolume_ = false;
                ReleaseCapture();
                SetVolumeFromX(GET_X_LPARAM(lParam), true);
            }
            return 0;
        case WM_CAPTURECHANGED:
            // Capture taken away mid-drag: the last position counts as the release.
            if (draggingVolume_ && reinterpret_cast<HWND>(lParam) != hwnd) {
                draggingVolume_ = false;
                if (callbacks_.volume) callbacks_.volume(volume_, muted_, true);
            }
            return 0;
        case WM_MOUSEWHEEL:
            if (compact_ || chatHidden_) return 0;
            ScrollChat(scroll_, pinned_, GET_WHEEL_DELTA_WPARAM(wParam), contentHeight_, layout_.chat, dpi_);
            {
                RECT chat = ToRect(layout_.chat);
                InvalidateRect(hwnd, &chat, FALSE);
            }
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

void TrainingBanner::OnCommand(int id) {
    switch (id) {
        case kBannerSendId:
            SendChat();
            break;
        case kBannerEndId:
        case kBannerCompactEndId:
            if (callbacks_.stop) callbacks_.stop();
            break;
        case kBannerMuteId:
            muted_ = !muted_;
            if (mute_) SetWindowTextW(mute_, muted_ ? kBannerUnmuteText : kBannerMuteText);
            InvalidateRect(window_, nullptr, FALSE);
            if (mute_) InvalidateRect(mute_, nullptr, FALSE);
            if (callbacks_.volume) callbacks_.volume(volume_, muted_, true);
            break;
        case kBannerShrinkId:
            if (!compact_) {
                compact_ = true;
                Layout();
            }
            break;
        case kBannerEnlargeId:
            if (compact_) {
                compact_ = false;
                Layout();
            }
            break;
        case kBannerChatToggleId:
            chatHidden_ = !chatHidden_;
            if (chatToggle_) SetWindowTextW(chatToggle_, chatHidden_ ? kBannerShowChatText : kBannerHideChatText);
            Layout();
            break;
        default:
            break;
    }
}

void TrainingBanner::SetVolumeFromX(int32_t x, bool persist) {
    volume_ = BannerVolumeAt(layout_.slider, dpi_, x);
    const bool wasMuted = muted_;
    muted_ = muted_ && volume_ <= 0;
    // Keeps the mute button saying what it will do.
    if (wasMuted != muted_ && mute_) SetWindowTextW(mute_, kBannerMuteText);
    InvalidateRect(window_, nullptr, FALSE);
    if (mute_) InvalidateRect(mute_, nullptr, FALSE);
    if (callbacks_.volume) callbacks_.volume(volume_, muted_, persist);
}

void TrainingBanner::SetHeader(const std::wstring& title, const std::wstring& subtitle) {
    title_ = title;
    subtitle_ = subtitle;
    lines_.clear();
    step_.clear();
    scroll_ = 0;
    pinned_ = true;
    Layout();
}

void TrainingBanner::SetMode(uint32_t mode, bool aiPaused) {
    if (mode == mode_ && aiPaused == aiPaused_) return;
    mode_ = mode;
    aiPaused_ = aiPaused;
    Layout();
}

void TrainingBanner::SetStepText(const std::wstring& text) {
    if (text == step_) return;
    step_ = text;
    Layout();
}

void TrainingBanner::SetCompact(bool compact) {
    if (compact == compact_) return;
    compact_ = compact;
    Layout();
}

void TrainingBanner::SetMaxHeight(uint32_t pixels) {
    if (pixels == maxHeight_) return;
    maxHeight_ = pixels;
    Layout();
}

void TrainingBanner::AppendChat(const ChatMessage& message) {
    AppendBannerLine(lines_,
                     {message.from, Utf8ToUtf16(message.name), Utf8ToUtf16(message.text), message.spoken, {}});
    pinned_ = true;
    if (window_) {
        RECT chat = ToRect(layout_.chat);
        InvalidateRect(window_, &chat, FALSE);
    }
}

void TrainingBanner::SendChat() {
    if (input_ == nullptr) return;
    const int length = GetWindowTextLengthW(input_);
    if (length <= 0) return;
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(input_, &text[0], length + 1)));
    SetWindowTextW(input_, L"");
    if (callbacks_.chat) callbacks_.chat(Utf16ToUtf8(text));
}

Gdiplus::GpFont* TrainingBanner::Font(BannerFont font) {
    auto it = fonts_.find(font);
    if (it == fonts_.end()) it = fonts_.emplace(font, CreateUiFont(WeightOf(font), BannerFontSize(font, dpi_))).first;
    return it->second.get();
}

TextSize TrainingBanner::Measure(GpGraphics* g, const std::wstring& text, BannerFont font, float maxWidth) {
    Gdiplus::GpFont* f = Font(font);
    if (g == nullptr || f == nullptr || text.empty()) return {};
    Format format(maxWidth > 0 ? 0 : Gdiplus::StringFormatFlagsNoWrap);
    Gdiplus::RectF layout(0, 0, maxWidth > 0 ? maxWidth : 100000.0f, 100000.0f), bounds;
    if (gp::GdipMeasureString(g, text.c_str(), -1, f, &layout, format.p, &bounds, nullptr, nullptr) != Gdiplus::Ok) {
        return {};
    }
    return {bounds.Width, bounds.Height};
}

void TrainingBanner::Layout() {
    if (window_ == nullptr) return;
    HDC dc = GetDC(window_);
    BannerLayoutInput in;
    in.dpi = dpi_;
    in.compact = compact_;
    in.chatHidden = chatHidden_;
    in.maxHeight = maxHeight_;
    in.title = title_;
    in.subtitle = subtitle_;
    in.status = BannerStatusText(mode_, aiPaused_);
    in.step = step_;
    {
        Graphics g(dc);
        layout_ = LayoutBanner(in, [&](const std::wstring& text, BannerFont font, float maxWidth) {
            return Measure(g.g, text, font, maxWidth);
        });
    }
    if (dc) ReleaseDC(window_, dc);
    compact_ = layout_.compact;

    ShowChild(end_, layout_.end);
    ShowChild(mute_, layout_.mute);
    ShowChild(chatToggle_, layout_.chatToggle);
    ShowChild(shrink_, layout_.shrink);
    ShowChild(enlarge_, layout_.enlarge);
    ShowChild(compactEnd_, layout_.compactEnd);
    ShowChild(send_, layout_.send);
    ShowChild(input_, layout_.input);

    RECT now{};
    GetWindowRect(window_, &now);
    if (now.right - now.left != layout_.width || now.bottom - now.top != layout_.height) {
        SetWindowPos(window_, nullptr, 0, 0, layout_.width, layout_.height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        const int32_t r = S(16);
        SetWindowRgn(window_, CreateRoundRectRgn(0, 0, layout_.width + 1, layout_.height + 1, 2 * r, 2 * r), TRUE);
        if (callbacks_.resized) callbacks_.resized();
    }
    if (window_ == nullptr) return;
    InvalidateRect(window_, nullptr, FALSE);
    for (HWND button : {send_, end_, mute_, chatToggle_, shrink_, enlarge_, compactEnd_}) {
        if (button) InvalidateRect(button, nullptr, FALSE);
    }
}

// Whether a part meets the rectangle being painted; parts draw their text and outlines up
// to two pixels beyond their boxes.
bool TrainingBanner::Dirty(const Box& part) const {
    if (part.width <= 0 || part.height <= 0) return false;
    const Box p{part.x - 2, part.y - 2, part.width + 4, part.height + 4};
    return p.x < dirty_.x + dirty_.width && dirty_.x < p.x + p.width && p.y < dirty_.y + dirty_.height &&
           dirty_.y < p.y + p.height;
}

void TrainingBanner::Paint(HDC target, const RECT& dirty) {
    RECT client;
    GetClientRect(window_, &client);
    RECT area;
    if (!IntersectRect(&area, &dirty, &client)) return;
    const int width = area.right - area.left, height = area.bottom - area.top;
    BITMAPINFO info = sv::TopDown32BitInfo(width, height);
    void* bits = nullptr;
    HDC memory = CreateCompatibleDC(target);
    HBITMAP section = CreateDIBSection(target, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (memory == nullptr || section == nullptr) {
        if (section) DeleteObject(section);
        if (memory) DeleteDC(memory);
        return;
    }
    HGDIOBJ old = SelectObject(memory, section);
    {
        Graphics graphics(memory);
        GpGraphics* g = graphics.g;
        if (g) {
            // Client coordinates throughout; the bitmap holds only the dirty part.
            gp::GdipTranslateWorldTransform(g, static_cast<float>(-area.left), static_cast<float>(-area.top),
                                            Gdiplus::MatrixOrderPrepend);
            dirty_ = Box{area.left, area.top, width, height};
            gp::GdipSetClipRectI(g, area.left, area.top, width, height, Gdiplus::CombineModeReplace);
            auto s = [&](double n) { return static_cast<float>(S(n)); };
            const float w = static_cast<float>(client.right), h = static_cast<float>(client.bottom);
            Brush fill(Color(BannerColor::Surface));
            if (fill.p) gp::GdipFillRectangleI(g, fill.p, area.left, area.top, width, height);
            OutlineRound(g, s(1), s(1), w - 2 * s(1) - 1, h - 2 * s(1) - 1, s(16) - s(1), Color(BannerColor::Accent),
                         1);
            PaintHeader(g);
            if (!compact_) {
                if (!chatHidden_) {
                    PaintChat(g);
                    PaintInput(g);
                }
                PaintVolume(g);
            }
        }
    }
    BitBlt(target, area.left, area.top, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(section);
    DeleteDC(memory);
}

// The status dot, the title and what goes with it: subtitle, status pill and step line, or
// in the compact strip one line below the title.
void TrainingBanner::PaintHeader(GpGraphics* g) {
    auto s = [&](double n) { return static_cast<float>(S(n)); };
    auto f = [](int32_t v) { return static_cast<float>(v); };
    const Box& d = layout_.dot;
    if (Dirty(d)) {
        const double phase = static_cast<double>(pulse_ % 20) / 20.0;
        const double a = std::sin(2 * 3.14159265358979 * phase);
        const uint32_t alpha = static_cast<uint32_t>(((a * 0.5 + 0.5) * 0.65 + 0.35) * 255);
        Brush dot(WithAlpha(Color(mode_ == 2 ? BannerColor::DotYourTurn : BannerColor::Danger), alpha));
        if (dot.p) gp::GdipFillEllipse(g, dot.p, f(d.x), f(d.y), f(d.width), f(d.height));
    }
    const std::wstring status = BannerStatusText(mode_, aiPaused_);
    if (compact_) {
        const Box& t = layout_.compactText;
        if (!Dirty({t.x, 0, t.width, layout_.height})) return;
        Format line(Gdiplus::StringFormatFlagsNoWrap, Gdiplus::StringTrimmingEllipsisCharacter);
        const float half = f(layout_.height) / 2;
        DrawText(g, title_, Font(BannerFont::CompactTitle), f(t.x), f(t.y), f(t.width), half - s(2),
                 Color(BannerColor::Text), line.p);
        DrawText(g, step_.empty() ? status : step_, Font(BannerFont::CompactLine), f(t.x), half + s(1), f(t.width),
                 half - s(1), Color(aiPaused_ ? BannerColor::Danger : BannerColor::SecondaryText), line.p);
        return;
    }
    // Whole lines only: a title cut at two lines must not spill into the subtitle.
    Format wrap(Gdiplus::StringFormatFlagsLineLimit, Gdiplus::StringTrimmingEllipsisWord);
    auto text = [&](const std::wstring& value, BannerFont font, const Box& box, BannerColor color) {
        if (Dirty(box)) {
            DrawText(g, value, Font(font), f(box.x), f(box.y), f(box.width) + 2, f(box.height) + 1, Color(color),
                     wrap.p);
        }
    };
    text(title_, BannerFont::Title, layout_.title, BannerColor::Text);
    text(subtitle_, BannerFont::Subtitle, layout_.subtitle, BannerColor::SecondaryText);
    const Box& p = layout_.pill;
    if (Dirty(p)) {
        FillRound(g, f(p.x), f(p.y), f(p.width), f(p.height), s(10),
                  Color(mode_ == 2 ? BannerColor::PillYourTurn
                                   : (aiPaused_ ? BannerColor::PillPaused : BannerColor::PillDemo)));
    }
    text(status, BannerFont::Status, layout_.pillText, BannerColor::Text);
    if (!step_.empty()) text(step_, BannerFont::Step, layout_.step, BannerColor::Accent);
}

// The chat bubbles, clipped to the chat area. Lines are measured once per change of their
// text or of the area's width; only bubbles in view are drawn.
void TrainingBanner::PaintChat(GpGraphics* g) {
    const Box& a = layout_.chat;
    if (!Dirty(a)) return;
    auto s = [&](double n) { return static_cast<float>(S(n)); };
    auto f = [](int32_t v) { return static_cast<float>(v); };
    FillRound(g, f(a.x), f(a.y), f(a.width), f(a.height), s(10), Color(BannerColor::ChatBackground));
    Path clip;
    if (clip.p) {
        AddRoundRect(clip.p, f(a.x), f(a.y), f(a.width), f(a.height), s(10));
        gp::GdipSetClipPath(g, clip.p, Gdiplus::CombineModeIntersect);
    }
    const float textWidth = ChatTextWidth(a, dpi_);
    const std::vector<ChatBubbleSize> sizes =
        MeasureChatLines(lines_, textWidth, measuredChatWidth_, dpi_,
                         [&](const std::wstring& text, BannerFont font, float maxWidth) {
                             return Measure(g, text, font, maxWidth);
                         });
    const ChatLayout chat = LayoutChat(sizes, a, dpi_, scroll_, pinned_);
    contentHeight_ = chat.contentHeight;
    scroll_ = chat.scroll;
    Format wrap(Gdiplus::StringFormatFlagsLineLimit, Gdiplus::StringTrimmingEllipsisWord);
    Format line(Gdiplus::StringFormatFlagsNoWrap, Gdiplus::StringTrimmingEllipsisCharacter);
    const uint32_t accent = Color(BannerColor::Accent);
    for (size_t i = 0; i < chat.bubbles.size(); ++i) {
        const ChatBubblePlace& b = chat.bubbles[i];
        if (b.y + b.height < f(a.y) || b.y > f(a.y + a.height)) continue;
        const ChatBubbleSize& size = sizes[i];
        FillRound(g, b.x, b.y, b.width, b.height, s(12), size.trainee ? accent : Color(BannerColor::Surface));
        float ty = b.y + s(6);
        if (!size.trainee) {
            DrawText(g, ChatDisplayName(lines_[i]), Font(BannerFont::Name), b.x + s(10), ty, size.nameWidth + 4,
                     size.nameHeight + 1, accent, line.p);
            if (lines_[i].spoken) {
                // The spoken mark: a small speaker after the name.
                const float mx = b.x + s(10) + size.nameWidth - s(14);
                const float my = ty + size.nameHeight / 2;
                Gdiplus::PointF cone[4] = {
                    {mx, my - s(2)}, {mx + s(4), my - s(2)}, {mx + s(8), my - s(5)}, {mx + s(8), my + s(5)}};
                Brush mark(accent);
                if (mark.p) {
                    gp::GdipFillPolygon(g, mark.p, cone, 4, Gdiplus::FillModeAlternate);
                    gp::GdipFillRectangle(g, mark.p, mx, my - s(2), s(4), s(4));
                }
            }
            ty += size.nameHeight;
        }
        DrawText(g, lines_[i].text, Font(BannerFont::Body), b.x + s(10), ty, textWidth + 2, size.textHeight + 1,
                 Color(size.trainee ? BannerColor::OnAccent : BannerColor::Text), wrap.p);
    }
    gp::GdipSetClipRectI(g, dirty_.x, dirty_.y, dirty_.width, dirty_.height, Gdiplus::CombineModeReplace);
}

// The frame around the chat input, accented while the input has the focus.
void TrainingBanner::PaintInput(GpGraphics* g) {
    const Box& frame = layout_.inputFrame;
    if (!Dirty(frame)) return;
    auto f = [](int32_t v) { return static_cast<float>(v); };
    const float r = static_cast<float>(S(10));
    FillRound(g, f(frame.x), f(frame.y), f(frame.width), f(frame.height), r, Color(BannerColor::InputBackground));
    OutlineRound(g, f(frame.x), f(frame.y), f(frame.width) - 1, f(frame.height) - 1, r,
                 Color(inputFocused_ ? BannerColor::Accent : BannerColor::Border),
                 inputFocused_ ? DpiScaleF(1.5) : 1.0f);
}

// The volume row: speaker, track, filled part and knob.
void TrainingBanner::PaintVolume(GpGraphics* g) {
    auto s = [&](double n) { return static_cast<float>(S(n)); };
    auto f = [](int32_t v) { return static_cast<float>(v); };
    const Box& sp = layout_.speaker;
    const Box& sl = layout_.slider;
    if (Dirty({sp.x, sl.y, sl.x - sp.x, sl.height})) {
        const uint32_t secondary = Color(BannerColor::SecondaryText);
        Pen speaker(secondary, std::max(1.0f, DpiScaleF(1.6)), true);
        Brush speakerFill(secondary);
        if (speakerFill.p) {
            const float cx = f(sp.x), cy = f(sp.y) + f(sp.height) / 2;
            Gdiplus::PointF poly[6] = {{cx, cy - s(3)},      {cx + s(4), cy - s(3)}, {cx + s(9), cy - s(7)},
                                       {cx + s(9), cy + s(7)}, {cx + s(4), cy + s(3)}, {cx, cy + s(3)}};
            gp::GdipFillPolygon(g, speakerFill.p, poly, 6, Gdiplus::FillModeAlternate);
            if (!muted_ && speaker.p) {
                gp::GdipDrawArc(g, speaker.p, cx + s(4), cy - s(6), s(12), s(12), -55, 110);
            } else if (speaker.p) {
                gp::GdipDrawLine(g, speaker.p, cx + s(11), cy - s(4), cx + s(16), cy + s(4));
                gp::GdipDrawLine(g, speaker.p, cx + s(16), cy - s(4), cx + s(11), cy + s(4));
            }
        }
    }
    if (!Dirty(sl)) return;
    const float knob = s(16);
    const float left = f(sl.x) + knob / 2, right = f(sl.x + sl.width) - knob / 2;
    const float cy = f(sl.y) + f(sl.height) / 2;
    const uint32_t accent = Color(BannerColor::Accent);
    FillRound(g, f(sl.x), cy - s(2), f(sl.width), s(4), s(2), Color(BannerColor::Border));
    const float shown = muted_ ? 0.0f : static_cast<float>(volume_);
    const float kx = left + (right - left) * shown;
    FillRound(g, f(sl.x), cy - s(2), kx - f(sl.x), s(4), s(2), accent);
    Brush knobFill(accent);
    if (knobFill.p) gp::GdipFillEllipse(g, knobFill.p, kx - knob / 2, cy - knob / 2, knob, knob);
}

void TrainingBanner::DrawButton(const DRAWITEMSTRUCT& item) {
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const RECT& r = item.rcItem;
    const float x = static_cast<float>(r.left), y = static_cast<float>(r.top);
    const float w = static_cast<float>(r.right - r.left), h = static_cast<float>(r.bottom - r.top);
    Graphics graphics(item.hDC);
    GpGraphics* g = graphics.g;
    if (g == nullptr) return;
    Brush background(Color(BannerColor::Surface));
    if (background.p) gp::GdipFillRectangle(g, background.p, x, y, w, h);
    const int id = static_cast<int>(item.CtlID);
    auto s = [&](double n) { return static_cast<float>(S(n)); };
    if (id == kBannerSendId || id == kBannerEndId || id == kBannerCompactEndId) {
        const uint32_t danger = Color(BannerColor::Danger);
        const uint32_t colour = id == kBannerSendId ? Color(pressed ? BannerColor::AccentPressed : BannerColor::Accent)
                                                    : (pressed ? Darker(danger) : danger);
        FillRound(g, x, y, w - 1, h - 1, s(8), colour);
        Format centred;
        if (centred.p) {
            gp::GdipSetStringFormatAlign(centred.p, Gdiplus::StringAlignmentCenter);
            gp::GdipSetStringFormatLineAlign(centred.p, Gdiplus::StringAlignmentCenter);
        }
        DrawText(g, id == kBannerSendId ? kBannerSendText : kBannerEndText, Font(BannerFont::Button), x, y, w, h,
                 Color(BannerColor::OnAccent),
                 centred.p);
        return;
    }
    FillRound(g, x, y, w - 1, h - 1, s(8), Color(pressed ? BannerColor::InputBackground : BannerColor::Surface));
    OutlineRound(g, x + 0.5f, y + 0.5f, w - 2, h - 2, s(8), Color(BannerColor::Border), 1);
    Pen pen(Color(BannerColor::Text), std::max(1.0f, DpiScaleF(1.6)), true);
    if (!pen.p) return;
    const float cx = x + w / 2, cy = y + h / 2;
    auto lineTo = [&](float x1, float y1, float x2, float y2) { gp::GdipDrawLine(g, pen.p, x1, y1, x2, y2); };
    if (id == kBannerMuteId) {
        Gdiplus::PointF cone[6] = {{cx - s(8), cy - s(3)}, {cx - s(4), cy - s(3)}, {cx + s(1), cy - s(7)},
                                   {cx + s(1), cy + s(7)}, {cx - s(4), cy + s(3)}, {cx - s(8), cy + s(3)}};
        gp::GdipDrawPolygon(g, pen.p, cone, 6);
        if (muted_) {
            lineTo(cx + s(4), cy - s(4), cx + s(10), cy + s(4));
            lineTo(cx + s(10), cy - s(4), cx + s(4), cy + s(4));
        } else {
            gp::GdipDrawArc(g, pen.p, cx - s(4), cy - s(6), s(12), s(12), -55, 110);
        }
    } else if (id == kBannerChatToggleId) {
        Path bubble;
        if (bubble.p) {
            AddRoundRect(bubble.p, cx - s(8), cy - s(7), s(16), s(11), s(3));
            gp::GdipDrawPath(g, pen.p, bubble.p);
        }
        lineTo(cx - s(4), cy + s(4), cx - s(6), cy + s(8));
        if (chatHidden_) lineTo(cx - s(9), cy + s(8), cx + s(9), cy - s(9));
        else lineTo(cx - s(4), cy - s(2), cx + s(4), cy - s(2));
    } else if (id == kBannerShrinkId) {
        // Two chevrons pointing at each other: fold together.
        lineTo(cx - s(5), cy - s(7), cx, cy - s(2));
        lineTo(cx + s(5), cy - s(7), cx, cy - s(2));
        lineTo(cx - s(5), cy + s(7), cx, cy + s(2));
        lineTo(cx + s(5), cy + s(7), cx, cy + s(2));
    } else if (id == kBannerEnlargeId) {
        // Two chevrons pointing apart: unfold.
        lineTo(cx - s(5), cy - s(2), cx, cy - s(7));
        lineTo(cx + s(5), cy - s(2), cx, cy - s(7));
        lineTo(cx - s(5), cy + s(2), cx, cy + s(7));
        lineTo(cx + s(5), cy + s(2), cx, cy + s(7));
    }
}

}  // namespace training
}  // namespace sv
