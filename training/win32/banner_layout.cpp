#include "training/win32/banner_layout.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "training/banner_placement.h"

namespace sv {
namespace training {

const BannerPalette kLightBannerPalette = {{
                                               0xFFF3F4F6,  // 0 chat area background
                                               0xFFFFFFFF,  // 1 window, step card, others' bubbles, buttons
                                               0xFFE5E7EB,  // 2 borders, icon outline, slider track
                                               0xFFF9FAFB,  // 3 input background, pressed icon button
                                               0xFF1A1A2E,  // 4 text
                                               0xFF6B7280,  // 5 secondary text
                                               0xFF2563EB,  // 6 accent
                                               0xFF1D4ED8,  // 7 accent pressed
                                               0xFFFFFFFF,  // 8 text on accent and danger
                                               0xFFDBEAFE,  // 9 status pill, demo
                                               0xFF9CA3AF,  // 10
                                               0xFFF3F4F6,  // 11
                                               0xFF16A34A,  // 12 status dot, your_turn
                                               0xFFDCFCE7,  // 13 status pill, your_turn
                                               0xFFDC2626,  // 14 danger
                                               0xFFFEE2E2,  // 15 status pill, AI paused
                                           },
                                           false};
const BannerPalette kDarkBannerPalette = {{0xFF16161E, 0xFF242531, 0xFF333544, 0xFF1B1C26, 0xFFF5F5F7, 0xFF9AA0AA,
                                           0xFF3B82F6, 0xFF60A5FA, 0xFFFFFFFF, 0xFF1E3A66, 0xFF6B7280, 0xFF2C2E3B,
                                           0xFF22C55E, 0xFF14352A, 0xFFF87171, 0xFF3F1F24},
                                          true};

const wchar_t kBannerClass[] = L"SorvaneTrainingBanner";
const wchar_t kBannerTitle[] = L"Sorvane \u2014 sesi pelatihan";
const wchar_t kBannerSendText[] = L"Kirim";
const wchar_t kBannerEndText[] = L"Akhiri sesi";
const wchar_t kBannerMuteText[] = L"Bisukan suara";
const wchar_t kBannerUnmuteText[] = L"Nyalakan suara";
const wchar_t kBannerHideChatText[] = L"Sembunyikan obrolan";
const wchar_t kBannerShowChatText[] = L"Tampilkan obrolan";
const wchar_t kBannerShrinkText[] = L"Perkecil";
const wchar_t kBannerEnlargeText[] = L"Perbesar";
const wchar_t kBannerPlaceholder[] = L"Tulis pertanyaan\u2026";

int32_t BannerScale(double n, uint32_t dpi) { return static_cast<int32_t>(std::lround(n * dpi / 96.0)); }

std::wstring BannerStatusText(uint32_t mode, bool aiPaused) {
    if (mode == 2) {
        return L"Giliran Anda \u2014 silakan coba sendiri. AI hanya mengamati dan tidak menggerakkan apa pun.";
    }
    if (aiPaused) return L"AI berhenti sejenak karena Anda sedang memakai mouse atau keyboard.";
    return L"AI sedang memperagakan. Cukup perhatikan \u2014 begitu Anda menyentuh mouse atau keyboard, AI langsung "
           L"berhenti.";
}

std::wstring StepCaption(std::optional<int32_t> index, std::optional<int32_t> total, const std::wstring& text) {
    if (text.empty()) return L"";
    if (!index) return text;
    std::wstring out = L"Langkah " + std::to_wstring(*index);
    if (total) out += L" dari " + std::to_wstring(*total);
    return out + L" \u2014 " + text;
}

std::wstring AiDisplayName(const std::wstring& name) {
    if (name.size() >= 2 && name.find(L"AI") != std::wstring::npos) return name;
    return name + L" (asisten AI)";
}

std::wstring BannerSubtitle(const std::wstring& trainer) {
    return L"Dipandu oleh " + trainer + L" \u00b7 Sorvane";
}

float BannerFontSize(BannerFont font, uint32_t dpi) {
    const float k = static_cast<float>(dpi) / 96.0f;
    switch (font) {
        case BannerFont::Title: return 17 * k;
        case BannerFont::Subtitle: return 13 * k;
        case BannerFont::Status:
        case BannerFont::Step:
        case BannerFont::CompactTitle: return 14.5f * k;
        case BannerFont::Button: return static_cast<float>(std::lround(15.33 * dpi / 96.0));
        case BannerFont::Body: return 15 * k;
        case BannerFont::Name: return 12.5f * k;
        case BannerFont::CompactLine: return 13 * k;
    }
    return 15 * k;
}

namespace {

int32_t Ceil(float v) { return static_cast<int32_t>(std::ceil(v)); }

BannerLayout Compact(const BannerLayoutInput& in, const BannerMeasure& measure) {
    auto s = [&](double n) { return BannerScale(n, in.dpi); };
    BannerLayout l;
    l.compact = true;
    l.width = s(372);
    l.height = s(56);
    l.enlarge = {l.width - s(36) - s(10), (l.height - s(36)) / 2, s(36), s(36)};
    const int32_t endWidth = Ceil(measure(kBannerEndText, BannerFont::Button, 0).width) + s(24);
    l.compactEnd = {l.enlarge.x - s(4) - endWidth, (l.height - s(40)) / 2, endWidth, s(40)};
    l.dot = {s(14), (l.height - s(12)) / 2, s(12), s(12)};
    const int32_t textRight = l.compactEnd.x - s(6);
    l.compactText = {s(36), s(8), std::max(textRight - s(36), 0), l.height - s(16)};
    l.dragWidth = textRight;
    l.headerHeight = 0;
    return l;
}

BannerLayout Normal(const BannerLayoutInput& in, const BannerMeasure& measure, int32_t chatHeight) {
    auto s = [&](double n) { return BannerScale(n, in.dpi); };
    BannerLayout l;
    l.width = s(396);
    const int32_t left = s(16), right = l.width - s(16);
    int32_t y = s(12);

    const int32_t b = s(36);
    l.shrink = {right - b, 0, b, b};
    l.chatToggle = {l.shrink.x - s(6) - b, 0, b, b};
    l.mute = {l.chatToggle.x - s(6) - b, 0, b, b};
    const int32_t titleX = left + s(24);
    const float titleWidth = static_cast<float>(std::max(l.mute.x - s(6) - titleX, 1));
    const float lineHeight = measure(L"Ag", BannerFont::Title, 0).height;
    TextSize title = measure(in.title, BannerFont::Title, titleWidth);
    title.height = std::min(title.height, 2 * lineHeight);
    TextSize subtitle = measure(in.subtitle, BannerFont::Subtitle, titleWidth);
    const int32_t block = Ceil(title.height + subtitle.height);
    const int32_t hh = std::max(s(40), block);
    const int32_t blockTop = y + (hh - block) / 2;
    l.title = {titleX, blockTop, static_cast<int32_t>(titleWidth), Ceil(title.height)};
    l.subtitle = {titleX, blockTop + Ceil(title.height), static_cast<int32_t>(titleWidth), Ceil(subtitle.height)};
    for (Box* button : {&l.mute, &l.chatToggle, &l.shrink}) button->y = y + (hh - b) / 2;
    l.dot = {left + s(2), blockTop + static_cast<int32_t>((lineHeight - s(12)) / 2), s(12), s(12)};
    l.headerHeight = s(12) + hh;
    y += hh;

    y += s(10);
    const int32_t pillTextWidth = std::max(right - left - s(24), 1);
    const int32_t statusHeight = Ceil(measure(in.status, BannerFont::Status, static_cast<float>(pillTextWidth)).height);
    l.pill = {left, y, right - left, statusHeight + s(16)};
    l.pillText = {left + s(12), y + s(8), pillTextWidth, statusHeight};
    y += l.pill.height;

    if (!in.step.empty()) {
        y += s(8);
        const int32_t stepWidth = right - left - s(2);
        l.step = {left + s(2), y, stepWidth,
                  Ceil(measure(in.step, BannerFont::Step, static_cast<float>(stepWidth)).height)};
        y += l.step.height;
    }

    if (!in.chatHidden) {
        y += s(10);
        l.chat = {left, y, right - left, chatHeight};
        y += chatHeight + s(8);
        const int32_t sendWidth = Ceil(measure(kBannerSendText, BannerFont::Button, 0).width) + s(28);
        l.send = {right - sendWidth, y, sendWidth, s(40)};
        l.inputFrame = {left, y, l.send.x - s(8) - left, s(40)};
        // A font that could not be measured still leaves the input a usable line.
        const int32_t lineH = std::max(Ceil(measure(L"Ag", BannerFont::Body, 0).height), s(18));
        l.input = {left + s(14), y + (s(40) - lineH) / 2, std::max(l.inputFrame.width - s(14) - s(10), 1), lineH};
        y += s(40);
    }

    y += s(12);
    const int32_t endWidth = Ceil(measure(kBannerEndText, BannerFont::Button, 0).width) + s(32);
    l.end = {right - endWidth, y, endWidth, s(40)};
    l.speaker = {left + s(2), y + s(12), s(16), s(16)};
    l.slider = {left + s(26), y, std::max(l.end.x - s(12) - (left + s(26)), 1), s(40)};
    y += s(40);
    l.height = y + s(14);
    return l;
}

}  // namespace

BannerLayout LayoutBanner(const BannerLayoutInput& in, const BannerMeasure& measure) {
    if (in.compact) return Compact(in, measure);
    const int32_t fullChat = BannerScale(200, in.dpi);
    BannerLayout normal = Normal(in, measure, fullChat);
    if (in.maxHeight == 0 || in.chatHidden || normal.height <= static_cast<int64_t>(in.maxHeight)) return normal;
    // Shrink the chat to what fits; below its minimum the banner turns compact.
    const int32_t maxHeight = static_cast<int32_t>(std::min<uint32_t>(in.maxHeight, INT32_MAX));
    std::optional<int32_t> chat =
        FitSpan(maxHeight, normal.height - fullChat, fullChat, BannerScale(96, in.dpi), 0);
    if (!chat) return Compact(in, measure);
    return Normal(in, measure, *chat);
}

bool BannerDragsAt(const BannerLayout& layout, int32_t x, int32_t y) {
    return layout.compact ? x < layout.dragWidth : y < layout.headerHeight;
}

double BannerVolumeAt(const Box& slider, uint32_t dpi, int32_t x) {
    const double knob = BannerScale(16, dpi);
    const double left = slider.x + knob / 2;
    const double right = slider.x + slider.width - knob / 2;
    double t = (x - left) / std::max(right - left, 1.0);
    t = std::min(std::max(t, 0.0), 1.0);
    return std::round(t * 100) / 100;
}

float ChatTextWidth(const Box& area, uint32_t dpi) {
    auto s = [&](double n) { return static_cast<float>(BannerScale(n, dpi)); };
    return std::max(static_cast<float>(area.width) - s(16) - s(8) - s(40) - s(20), 1.0f);
}

void AppendBannerLine(std::vector<BannerChatLine>& lines, BannerChatLine line) {
    lines.push_back(std::move(line));
    if (lines.size() > kBannerMaxChatLines) lines.erase(lines.begin(), lines.end() - kBannerMaxChatLines);
}

std::wstring ChatDisplayName(const BannerChatLine& line) {
    return line.from == "ai" ? AiDisplayName(line.name) : line.name;
}

std::vector<ChatBubbleSize> MeasureChatLines(std::vector<BannerChatLine>& lines, float textWidth,
                                             float& measuredWidth, uint32_t dpi, const BannerMeasure& measure) {
    const bool widthChanged = textWidth != measuredWidth;
    measuredWidth = textWidth;
    std::vector<ChatBubbleSize> sizes;
    sizes.reserve(lines.size());
    for (BannerChatLine& line : lines) {
        if (!line.size || widthChanged) {
            ChatBubbleSize b;
            b.trainee = line.from == "trainee";
            if (!b.trainee) {
                const std::wstring name = ChatDisplayName(line);
                const TextSize n = measure(name.empty() ? L" " : name, BannerFont::Name, 0);
                b.nameWidth = n.width + (line.spoken ? static_cast<float>(BannerScale(18, dpi)) : 0);
                b.nameHeight = n.height;
            }
            const TextSize t = measure(line.text.empty() ? L" " : line.text, BannerFont::Body, textWidth);
            b.textWidth = t.width;
            b.textHeight = t.height;
            line.size = b;
        }
        sizes.push_back(*line.size);
    }
    return sizes;
}

ChatLayout LayoutChat(const std::vector<ChatBubbleSize>& lines, const Box& area, uint32_t dpi, float scroll,
                      bool pinned) {
    auto s = [&](double n) { return static_cast<float>(BannerScale(n, dpi)); };
    ChatLayout out;
    std::vector<ChatBubblePlace> places;
    float y = s(4);
    for (const ChatBubbleSize& line : lines) {
        const float nameHeight = line.trainee ? 0 : line.nameHeight;
        const float nameWidth = line.trainee ? 0 : line.nameWidth;
        ChatBubblePlace p;
        p.width = s(20) + std::max(line.textWidth, nameWidth) + 1;
        p.height = s(6) + nameHeight + line.textHeight + s(8);
        p.x = line.trainee ? area.x + area.width - s(16) - p.width : area.x + s(8);
        y += s(3);
        p.y = y;
        y += p.height + s(3);
        places.push_back(p);
    }
    out.contentHeight = y + s(4);
    const float maxScroll = std::max(out.contentHeight - static_cast<float>(area.height), 0.0f);
    out.scroll = pinned ? maxScroll : std::min(std::max(scroll, 0.0f), maxScroll);
    for (ChatBubblePlace& p : places) p.y += static_cast<float>(area.y) - out.scroll;
    out.bubbles = std::move(places);
    return out;
}

void ScrollChat(float& scroll, bool& pinned, int32_t wheelDelta, float contentHeight, const Box& area,
                uint32_t dpi) {
    const float maxScroll = std::max(contentHeight - static_cast<float>(area.height), 0.0f);
    if (pinned) scroll = maxScroll;
    scroll -= static_cast<float>(BannerScale(48, dpi)) * static_cast<float>(wheelDelta) / 120.0f;
    scroll = std::min(std::max(scroll, 0.0f), maxScroll);
    pinned = scroll >= maxScroll;
}

}  // namespace training
}  // namespace sv
