#pragma once
// The session banner: a small topmost window with the session's title, the status of the
// AI, the current step, the chat with the trainer, the volume and the end button. It can
// shrink to a strip, be dragged by its header and is never closed or minimised by the
// trainee. Everything here runs on the surface's UI thread.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/ui_theme.h"
#include "training/training_records.h"
#include "training/win32/banner_layout.h"

namespace Gdiplus {
class GpGraphics;
}  // namespace Gdiplus

namespace sv {
namespace training {

struct BannerCallbacks {
    std::function<void(const std::string& text)> chat;
    std::function<void()> stop;
    std::function<void(double volume, bool muted, bool persist)> volume;
    std::function<void()> moved;    // the trainee finished dragging the banner
    std::function<void()> resized;  // a relayout changed the banner's size
};

class TrainingBanner {
public:
    TrainingBanner(BannerCallbacks callbacks, const BannerPalette* palette, uint32_t dpi, double volume, bool muted);
    ~TrainingBanner();
    TrainingBanner(const TrainingBanner&) = delete;
    TrainingBanner& operator=(const TrainingBanner&) = delete;

    HWND Window() const { return window_; }
    HWND Input() const { return input_; }
    const BannerPalette* Palette() const { return palette_; }
    bool IsCompact() const { return compact_; }

    void SetHeader(const std::wstring& title, const std::wstring& subtitle);
    void SetMode(uint32_t mode, bool aiPaused);
    void SetStepText(const std::wstring& text);
    void SetCompact(bool compact);
    void SetMaxHeight(uint32_t pixels);
    void AppendChat(const ChatMessage& message);
    // Sends what the chat input holds (the send button, and Enter in the input).
    void SendChat();

private:
    static LRESULT CALLBACK Thunk(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK EditSubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                             DWORD_PTR data);
    LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void Layout();
    // Draws the part of the client area in `dirty` only: the pulse repaints the status dot
    // alone, whatever the chat holds.
    void Paint(HDC dc, const RECT& dirty);
    void PaintHeader(Gdiplus::GpGraphics* g);
    void PaintChat(Gdiplus::GpGraphics* g);
    void PaintInput(Gdiplus::GpGraphics* g);
    void PaintVolume(Gdiplus::GpGraphics* g);
    bool Dirty(const Box& part) const;
    uint32_t Color(BannerColor slot) const { return (*palette_)[slot]; }
    void DrawButton(const DRAWITEMSTRUCT& item);
    void SetVolumeFromX(int32_t x, bool persist);
    void OnCommand(int id);
    Gdiplus::GpFont* Font(BannerFont font);
    TextSize Measure(Gdiplus::GpGraphics* g, const std::wstring& text, BannerFont font, float maxWidth);
    int32_t S(double n) const { return BannerScale(n, dpi_); }
    float DpiScaleF(double n) const { return static_cast<float>(n * dpi_ / 96.0); }

    BannerCallbacks callbacks_;
    const BannerPalette* palette_;
    uint32_t dpi_;
    HWND window_ = nullptr;
    HWND input_ = nullptr;
    HWND send_ = nullptr, end_ = nullptr, mute_ = nullptr, chatToggle_ = nullptr, shrink_ = nullptr,
         enlarge_ = nullptr, compactEnd_ = nullptr;
    HFONT inputFont_ = nullptr;
    HBRUSH inputBrush_ = nullptr;
    bool closing_ = false;
    std::wstring title_, subtitle_, step_;
    uint32_t mode_ = 1;
    bool aiPaused_ = false;
    bool compact_ = false, chatHidden_ = false, muted_ = false;
    double volume_ = 1.0;
    std::vector<BannerChatLine> lines_;
    float measuredChatWidth_ = 0;  // the text width the lines' sizes were measured at
    float scroll_ = 0;
    float contentHeight_ = 0;
    bool pinned_ = true, inputFocused_ = false, draggingVolume_ = false;
    uint32_t pulse_ = 0;
    uint32_t maxHeight_ = 0;
    BannerLayout layout_;
    Box dirty_;  // while painting: the client rectangle being drawn
    std::map<BannerFont, UiFont> fonts_;
};

}  // namespace training
}  // namespace sv
