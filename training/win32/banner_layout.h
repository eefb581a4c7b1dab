#pragma once
// The session banner's texts, colours and geometry: where every part and child control
// goes for a set of measured texts, which points drag the window, the volume a slider
// position means, and where the chat bubbles sit. No window calls, so the arithmetic is
// checked with a fake text measurer.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "training/training_records.h"

namespace sv {
namespace training {

// The palette's sixteen colour slots, by role.
enum class BannerColor : uint8_t {
    ChatBackground,   // chat area
    Surface,          // window, step card, others' bubbles, button backgrounds
    Border,           // borders, icon-button outline, slider track
    InputBackground,  // chat input, pressed icon button
    Text,
    SecondaryText,    // subtitle, placeholder, speaker icon
    Accent,           // window outline, send button, trainee bubbles, step line, slider fill, focus frame
    AccentPressed,
    OnAccent,         // text on accent and on danger
    PillDemo,
    Faint,            // in the tables, drawn by nothing
    Subtle,           // in the tables, drawn by nothing
    DotYourTurn,
    PillYourTurn,
    Danger,           // end buttons, the status dot outside your_turn
    PillPaused,       // status pill while the AI is paused
};

// Sixteen ARGB colours in slot order.
struct BannerPalette {
    uint32_t colors[16];
    bool dark;
    uint32_t operator[](BannerColor slot) const { return colors[static_cast<size_t>(slot)]; }
};
extern const BannerPalette kLightBannerPalette;
extern const BannerPalette kDarkBannerPalette;

// Child control ids.
constexpr int kBannerInputId = 1101;
constexpr int kBannerSendId = 1102;
constexpr int kBannerEndId = 1103;
constexpr int kBannerMuteId = 1104;
constexpr int kBannerShrinkId = 1106;
constexpr int kBannerEnlargeId = 1107;
constexpr int kBannerCompactEndId = 1109;
constexpr int kBannerChatToggleId = 1110;

extern const wchar_t kBannerClass[];
extern const wchar_t kBannerTitle[];
extern const wchar_t kBannerSendText[];
extern const wchar_t kBannerEndText[];
extern const wchar_t kBannerMuteText[];
extern const wchar_t kBannerUnmuteText[];
extern const wchar_t kBannerHideChatText[];
extern const wchar_t kBannerShowChatText[];
extern const wchar_t kBannerShrinkText[];
extern const wchar_t kBannerEnlargeText[];
extern const wchar_t kBannerPlaceholder[];
constexpr size_t kBannerMaxChatLines = 120;
constexpr int kBannerMaxInputChars = 2000;

// n logical pixels at dpi, rounded to the nearest pixel (halves away from zero).
int32_t BannerScale(double n, uint32_t dpi);

// The status sentence: your_turn (mode 2), else AI paused, else demo.
std::wstring BannerStatusText(uint32_t mode, bool aiPaused);
// "Langkah <i>[ dari <n>] — <text>"; the text alone without an index; empty without text.
std::wstring StepCaption(std::optional<int32_t> index, std::optional<int32_t> total, const std::wstring& text);
// The name shown for the AI's lines: kept when it already says "AI", else marked as one.
std::wstring AiDisplayName(const std::wstring& name);
// "Dipandu oleh <trainer> · Sorvane"
std::wstring BannerSubtitle(const std::wstring& trainer);

enum class BannerFont { Title, Subtitle, Status, Step, Button, Body, Name, CompactTitle, CompactLine };
// Its pixel size at dpi.
float BannerFontSize(BannerFont font, uint32_t dpi);

struct TextSize {
    float width = 0;
    float height = 0;
};
// The size of text in that font, wrapped at maxWidth (0: one line, no wrapping).
using BannerMeasure = std::function<TextSize(const std::wstring& text, BannerFont font, float maxWidth)>;

struct BannerLayoutInput {
    uint32_t dpi = 96;
    bool compact = false;
    bool chatHidden = false;
    uint32_t maxHeight = 0;  // 0 = none
    std::wstring title;
    std::wstring subtitle;
    std::wstring status;
    std::wstring step;
};

struct BannerLayout {
    int32_t width = 0;
    int32_t height = 0;
    bool compact = false;  // also true when the normal layout did not fit the maximum height
    int32_t headerHeight = 0;
    int32_t dragWidth = 0;  // compact: the part left of this drags the window
    Box dot, title, subtitle, pill, pillText, step, chat, inputFrame, input, speaker, slider, compactText;
    // Child controls; an empty box means hidden.
    Box send, end, mute, chatToggle, shrink, enlarge, compactEnd;
};

BannerLayout LayoutBanner(const BannerLayoutInput& in, const BannerMeasure& measure);

// Whether a client point that is not on a child drags the window.
bool BannerDragsAt(const BannerLayout& layout, int32_t x, int32_t y);

// The volume for a client x on the slider: 0..1 in hundredths.
double BannerVolumeAt(const Box& slider, uint32_t dpi, int32_t x);

// One chat line's measured parts; a trainee's line has no name line.
struct ChatBubbleSize {
    bool trainee = false;
    float nameWidth = 0;  // the mark of a spoken line included
    float nameHeight = 0;
    float textWidth = 0;
    float textHeight = 0;
};
struct ChatBubblePlace {
    float x = 0, y = 0, width = 0, height = 0;
};
struct ChatLayout {
    float contentHeight = 0;
    float scroll = 0;  // resolved: the bottom when pinned, else limited to the content
    std::vector<ChatBubblePlace> bubbles;
};
// The width in which a line's text is measured.
float ChatTextWidth(const Box& area, uint32_t dpi);

// One line of the banner's chat, with its bubble's size once measured.
struct BannerChatLine {
    std::string from;
    std::wstring name;
    std::wstring text;
    bool spoken = false;
    std::optional<ChatBubbleSize> size;  // measured at the chat's current text width
};
// Appends a line, dropping the oldest beyond the banner's limit.
void AppendBannerLine(std::vector<BannerChatLine>& lines, BannerChatLine line);
// The name shown on a line: the AI's marked as the AI's.
std::wstring ChatDisplayName(const BannerChatLine& line);
// The bubble sizes of the lines with their text wrapped at textWidth. Only lines without a
// size are measured, all of them when textWidth differs from measuredWidth (which then
// takes its value): a repaint with nothing new measures nothing.
std::vector<ChatBubbleSize> MeasureChatLines(std::vector<BannerChatLine>& lines, float textWidth,
                                             float& measuredWidth, uint32_t dpi, const BannerMeasure& measure);
ChatLayout LayoutChat(const std::vector<ChatBubbleSize>& lines, const Box& area, uint32_t dpi, float scroll,
                      bool pinned);
// The scroll after a wheel turn of delta (120 per notch); pinned again at the bottom.
void ScrollChat(float& scroll, bool& pinned, int32_t wheelDelta, float contentHeight, const Box& area,
                uint32_t dpi);

}  // namespace training
}  // namespace sv
