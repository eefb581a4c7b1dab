#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

#include <nlohmann/json.hpp>

#include "base/audit_log.h"
#include "base/file_io.h"
#include "session/screen/screen_capture.h"
#include "test_support.h"
#include "training/training_session.h"
#include "training/win32/banner_layout.h"
#include "training/win32/training_banner.h"
#include "training/win32/win32_surface.h"

namespace {

using namespace sv::training;
using nlohmann::json;

HWND Banner() { return FindWindowW(L"SorvaneTrainingBanner", nullptr); }

std::wstring TextOf(HWND window) {
    wchar_t text[128] = {0};
    GetWindowTextW(window, text, 128);
    return text;
}

RECT WorkArea() {
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

// Waits for a condition another thread brings about, pumping this thread meanwhile.
bool WaitFor(const std::function<bool()>& done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

class BannerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sv::StartGdiplus());
        sv::SetAuditDirectory(dir_.Path());
        surface_ = MakeWin32Surface(dir_.Path());
        surface_->OnTraineeChat = [this](const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex_);
            chat_ += text;
        };
        surface_->OnStopRequested = [this] { stops_ += 1; };
        session_.title = "Belajar email";
        session_.trainer = "Sari";
        surface_->BeginSession(session_);
        banner_ = Banner();
        ASSERT_NE(banner_, nullptr);
    }
    void TearDown() override {
        surface_.reset();
        sv::SetAuditDirectory("");
    }
    void Click(int id) {
        SendMessageW(banner_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(banner_, id)));
    }
    RECT Rect() const {
        RECT r{};
        GetWindowRect(banner_, &r);
        return r;
    }
    std::string Chat() {
        std::lock_guard<std::mutex> lock(mutex_);
        return chat_;
    }
    std::string Audit() { return sv_test::AuditText(dir_.Path()); }

    sv_test::ScratchDir dir_;
    std::unique_ptr<ITrainingSurface> surface_;
    TrainingSession session_;
    HWND banner_ = nullptr;
    std::mutex mutex_;
    std::string chat_;
    std::atomic<int> stops_{0};
};

TEST_F(BannerTest, ShowsItsTitleAndButtonsInTheBottomRightCorner) {
    EXPECT_EQ(TextOf(banner_), L"Sorvane \u2014 sesi pelatihan");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(banner_, GWL_EXSTYLE)) & 0x00010088u, 0x00010088u);
    EXPECT_TRUE(IsWindowVisible(banner_));
    struct Child {
        int id;
        const wchar_t* text;
        bool visible;
    } children[] = {{1102, L"Kirim", true},          {1103, L"Akhiri sesi", true},        {1104, L"Bisukan suara", true},
                    {1110, L"Sembunyikan obrolan", true}, {1106, L"Perkecil", true}, {1107, L"Perbesar", false},
                    {1109, L"Akhiri sesi", false},   {1101, L"", true}};
    for (const Child& c : children) {
        HWND child = GetDlgItem(banner_, c.id);
        ASSERT_NE(child, nullptr) << c.id;
        EXPECT_EQ(TextOf(child), c.text) << c.id;
        EXPECT_EQ(IsWindowVisible(child) != FALSE, c.visible) << c.id;
    }
    const RECT r = Rect();
    const RECT work = WorkArea();
    EXPECT_EQ(r.right, work.right - 8);
    EXPECT_EQ(r.bottom, work.bottom - 8);
    EXPECT_EQ(r.right - r.left, 396);
    BannerState state = surface_->GetBannerState();
    ASSERT_TRUE(state);
    EXPECT_EQ(*state, (Box{r.left, r.top, r.right - r.left, r.bottom - r.top}));

    surface_->EndSession("done");
    EXPECT_EQ(Banner(), nullptr);
    EXPECT_FALSE(surface_->GetBannerState());
    EXPECT_FALSE(surface_->SetBannerPosition("top-left", true).visible);
}

TEST_F(BannerTest, MuteButtonFlipsItsTextTheSurfaceAndTheSettingsFile) {
    HWND mute = GetDlgItem(banner_, 1104);
    Click(1104);
    EXPECT_EQ(TextOf(mute), L"Nyalakan suara");
    EXPECT_TRUE(surface_->IsMuted());
    json settings = json::parse(sv_test::ReadFile(dir_.Path() + "\\host-ui.json"));
    EXPECT_EQ(settings["TrainingMuted"], true);
    EXPECT_EQ(settings["TrainingVolume"], 1.0);
    EXPECT_NE(Audit().find("trainee set volume=100 muted=True"), std::string::npos);
    Click(1104);
    EXPECT_EQ(TextOf(mute), L"Bisukan suara");
    EXPECT_FALSE(surface_->IsMuted());
    EXPECT_EQ(json::parse(sv_test::ReadFile(dir_.Path() + "\\host-ui.json"))["TrainingMuted"], false);

    // The next surface starts muted and says so on the button.
    Click(1104);
    surface_.reset();
    surface_ = MakeWin32Surface(dir_.Path());
    EXPECT_TRUE(surface_->IsMuted());
    surface_->BeginSession(session_);
    EXPECT_EQ(TextOf(GetDlgItem(Banner(), 1104)), L"Nyalakan suara");
}

TEST_F(BannerTest, ASliderDragChangesTheVolumeAtOnceAndPersistsOnRelease) {
    const RECT r = Rect();
    // The slider starts 26 pixels in from the 16-pixel margin; its knob is 16 wide, so the
    // track's left end is at x 50. The volume row is 40 high and ends 14 above the bottom.
    const LPARAM left = MAKELPARAM(50, (r.bottom - r.top) - 34);
    const std::string settings = dir_.Path() + "\\host-ui.json";
    SendMessageW(banner_, WM_LBUTTONDOWN, MK_LBUTTON, left);
    SendMessageW(banner_, WM_MOUSEMOVE, MK_LBUTTON, left);
    EXPECT_EQ(surface_->GetVolume(), 0.0);
    EXPECT_FALSE(sv::IsRegularFile(settings)) << "nothing is kept until the release";
    EXPECT_EQ(Audit().find("trainee set volume"), std::string::npos);
    SendMessageW(banner_, WM_LBUTTONUP, 0, left);
    json kept = json::parse(sv_test::ReadFile(settings));
    EXPECT_EQ(kept["TrainingVolume"], 0.0);
    EXPECT_EQ(kept["TrainingMuted"], false);
    EXPECT_NE(Audit().find("trainee set volume=0 muted=False"), std::string::npos);
}

TEST_F(BannerTest, ASessionUnderAnotherThemeGetsANewBanner) {
    surface_->BeginSession(session_);
    EXPECT_EQ(Banner(), banner_) << "same theme: the banner is kept";
    ASSERT_TRUE(sv::WriteFileAtomically(dir_.Path() + "\\host-ui.json", R"({"Theme":"dark"})"));
    surface_->BeginSession(session_);
    HWND dark = Banner();
    ASSERT_NE(dark, nullptr);
    EXPECT_NE(dark, banner_);
    EXPECT_FALSE(IsWindow(banner_));
}

TEST_F(BannerTest, CloseAndMinimiseRequestsAreRefused) {
    SendMessageW(banner_, WM_CLOSE, 0, 0);
    SendMessageW(banner_, WM_SYSCOMMAND, SC_CLOSE, 0);
    SendMessageW(banner_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(IsWindow(banner_));
    EXPECT_TRUE(IsWindowVisible(banner_));
    EXPECT_FALSE(IsIconic(banner_));
    EXPECT_TRUE(surface_->GetBannerState());
}

TEST_F(BannerTest, CompactAndCornersFollowRequests) {
    const RECT work = WorkArea();
    BannerPlacement p = surface_->SetBannerPosition("top-left", true);
    EXPECT_TRUE(p.visible);
    EXPECT_TRUE(p.compact);
    EXPECT_EQ(p.corner, "top-left");
    EXPECT_EQ(p.rect, (Box{work.left + 8, work.top + 8, 372, 56}));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(banner_, 1107)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(banner_, 1103)));

    // Growing back keeps the corner: the new size is placed there again.
    Click(1107);
    RECT r = Rect();
    EXPECT_EQ(r.left, work.left + 8);
    EXPECT_EQ(r.top, work.top + 8);
    EXPECT_EQ(r.right - r.left, 396);

    p = surface_->SetBannerPosition("bottom-left", std::nullopt);
    EXPECT_FALSE(p.compact);
    EXPECT_EQ(p.rect.x, work.left + 8);
    EXPECT_EQ(p.rect.y + p.rect.height, work.bottom - 8);

    // Shrinking from the button re-places the smaller banner in its corner.
    Click(1106);
    r = Rect();
    EXPECT_EQ(r.bottom - r.top, 56);
    EXPECT_EQ(r.bottom, work.bottom - 8);
}

TEST_F(BannerTest, HeaderDragsAndADragForgetsTheCorner) {
    const RECT r = Rect();
    LRESULT header = SendMessageW(banner_, WM_NCHITTEST, 0, MAKELPARAM(r.left + 60, r.top + 20));
    LRESULT chat = SendMessageW(banner_, WM_NCHITTEST, 0, MAKELPARAM(r.left + 60, r.bottom - 150));
    EXPECT_EQ(header, HTCAPTION);
    EXPECT_EQ(chat, HTCLIENT);
    SetWindowPos(banner_, nullptr, 300, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(banner_, WM_EXITSIZEMOVE, 0, 0);
    BannerPlacement p = surface_->SetBannerPosition("", std::nullopt);
    EXPECT_EQ(p.corner, "");
    EXPECT_EQ(p.rect.x, 300);
    EXPECT_EQ(p.rect.y, 100);
}

TEST_F(BannerTest, ChatEnterSendsAndStopAsks) {
    HWND input = GetDlgItem(banner_, 1101);
    SetWindowTextW(input, L"Tolong ulangi");
    PostMessageW(input, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_TRUE(WaitFor([&] { return !Chat().empty(); }));
    EXPECT_EQ(Chat(), "Tolong ulangi");
    EXPECT_EQ(TextOf(input), L"");
    Click(1102);  // empty input: nothing is sent
    EXPECT_EQ(Chat(), "Tolong ulangi");
    Click(1103);
    // The stop is handed to the surface's stop thread, so the window never waits for it.
    EXPECT_TRUE(WaitFor([&] { return stops_.load() == 1; }));
}

TEST_F(BannerTest, AnOverlayUnderTheBannerMovesItButTheGhostDoesNot) {
    const RECT before = Rect();
    OverlayShape ghost;
    ghost.id = "g";
    ghost.kind = "ghost";
    ghost.x = before.left + 50;
    ghost.y = before.top + 50;
    ghost.hasPoint = true;
    surface_->ShowOverlay(ghost);
    EXPECT_EQ(Rect().left, before.left);

    OverlayShape box;
    box.id = "h";
    box.kind = "highlight";
    box.x = before.left + 20;
    box.y = before.top + 40;
    box.width = 100;
    box.height = 100;
    surface_->ShowOverlay(box);
    const RECT after = Rect();
    const RECT work = WorkArea();
    EXPECT_EQ(after.left, work.left + 8) << "moved to the free bottom-left corner";
    EXPECT_NE(Audit().find("banner moved to bottom-left to keep the overlay visible"), std::string::npos);
}

// ---- pure rules ----

TextSize FakeMeasure(const std::wstring& text, BannerFont, float maxWidth) {
    // 8 pixels a character, 20 a line, wrapped at maxWidth.
    if (text.empty()) return {};
    const float width = 8.0f * text.size();
    if (maxWidth <= 0 || width <= maxWidth) return {width, 20};
    return {maxWidth, 20.0f * std::ceil(width / maxWidth)};
}

TEST(BannerRules, Texts) {
    EXPECT_EQ(StepCaption(2, 5, L"Buka"), L"Langkah 2 dari 5 \u2014 Buka");
    EXPECT_EQ(StepCaption(2, std::nullopt, L"Buka"), L"Langkah 2 \u2014 Buka");
    EXPECT_EQ(StepCaption(std::nullopt, 5, L"Buka"), L"Buka");
    EXPECT_EQ(StepCaption(2, 5, L""), L"");
    EXPECT_EQ(AiDisplayName(L"Sari"), L"Sari (asisten AI)");
    EXPECT_EQ(AiDisplayName(L"Sorvane AI"), L"Sorvane AI");
    EXPECT_EQ(AiDisplayName(L"Ai"), L"Ai (asisten AI)");
    EXPECT_EQ(AiDisplayName(L""), L" (asisten AI)");
    EXPECT_EQ(BannerSubtitle(L""), L"Dipandu oleh  \u00b7 Sorvane");
    EXPECT_EQ(BannerStatusText(2, true).substr(0, 12), L"Giliran Anda");
    EXPECT_EQ(BannerStatusText(1, true).substr(0, 17), L"AI berhenti sejen");
    EXPECT_EQ(BannerStatusText(1, false).substr(0, 23), L"AI sedang memperagakan.");
}

TEST(BannerRules, LayoutShrinksTheChatThenTurnsCompact) {
    BannerLayoutInput in;
    in.title = L"Sesi";
    in.status = L"status";
    BannerLayout full = LayoutBanner(in, FakeMeasure);
    EXPECT_FALSE(full.compact);
    EXPECT_EQ(full.width, 396);
    EXPECT_EQ(full.chat.height, 200);
    EXPECT_EQ(full.headerHeight, 52);
    EXPECT_EQ(full.end.x + full.end.width, 380);

    in.chatHidden = true;
    BannerLayout noChat = LayoutBanner(in, FakeMeasure);
    EXPECT_EQ(noChat.height, full.height - 200 - 10 - 8 - 40);
    EXPECT_EQ(noChat.send.width, 0) << "send is hidden with the chat";
    in.chatHidden = false;

    in.maxHeight = static_cast<uint32_t>(full.height - 50);
    BannerLayout squeezed = LayoutBanner(in, FakeMeasure);
    EXPECT_EQ(squeezed.chat.height, 150);
    EXPECT_EQ(squeezed.height, static_cast<int32_t>(in.maxHeight));
    in.maxHeight = static_cast<uint32_t>(full.height - 105);  // the chat would be 95
    BannerLayout tiny = LayoutBanner(in, FakeMeasure);
    EXPECT_TRUE(tiny.compact);
    EXPECT_EQ(tiny.height, 56);
    EXPECT_TRUE(BannerDragsAt(tiny, 10, 50));
    EXPECT_FALSE(BannerDragsAt(tiny, tiny.dragWidth, 5));
    EXPECT_TRUE(BannerDragsAt(full, 200, full.headerHeight - 1));
    EXPECT_FALSE(BannerDragsAt(full, 200, full.headerHeight));

    in.dpi = 144;
    in.maxHeight = 0;
    EXPECT_EQ(LayoutBanner(in, FakeMeasure).width, 594);
}

TEST(BannerRules, VolumeFromTheSlider) {
    const Box slider{100, 0, 216, 40};  // knob 16: the track runs from 108 to 308
    EXPECT_EQ(BannerVolumeAt(slider, 96, 50), 0.0);
    EXPECT_EQ(BannerVolumeAt(slider, 96, 108), 0.0);
    EXPECT_EQ(BannerVolumeAt(slider, 96, 188), 0.4);
    EXPECT_EQ(BannerVolumeAt(slider, 96, 189), 0.41);  // 0.405 rounds up
    EXPECT_EQ(BannerVolumeAt(slider, 96, 900), 1.0);
    EXPECT_EQ(BannerVolumeAt(Box{0, 0, 10, 40}, 96, 5), 0.0) << "a slider narrower than its knob";
}

TEST(BannerRules, ChatBubblesAndScrolling) {
    const Box area{16, 100, 364, 200};
    std::vector<ChatBubbleSize> lines(6, ChatBubbleSize{false, 50, 18, 120, 40});
    lines[1].trainee = true;
    ChatLayout pinned = LayoutChat(lines, area, 96, 0, true);
    // Each bubble: 6 + 18 + 40 + 8 = 72 high, 3 above and below; 4 at the top and bottom.
    EXPECT_EQ(pinned.contentHeight, 4 + 5 * 78 + (54 + 6) + 4);
    EXPECT_EQ(pinned.scroll, pinned.contentHeight - 200);
    EXPECT_EQ(pinned.bubbles[0].x, 24);
    EXPECT_EQ(pinned.bubbles[1].x + pinned.bubbles[1].width, 16 + 364 - 16);
    EXPECT_EQ(pinned.bubbles[1].height, 6 + 40 + 8) << "a trainee's line has no name";
    EXPECT_EQ(LayoutChat(lines, area, 96, -50, false).scroll, 0);
    EXPECT_EQ(LayoutChat(lines, area, 96, 1e6f, false).scroll, pinned.scroll);

    float scroll = 0;
    bool pin = true;
    ScrollChat(scroll, pin, 120, pinned.contentHeight, area, 96);  // one notch up from the bottom
    EXPECT_EQ(scroll, pinned.scroll - 48);
    EXPECT_FALSE(pin);
    ScrollChat(scroll, pin, -240, pinned.contentHeight, area, 96);
    EXPECT_EQ(scroll, pinned.scroll);
    EXPECT_TRUE(pin) << "back at the bottom, new lines follow again";
}

TEST(BannerRules, ChatKeepsTheNewest120Lines) {
    std::vector<BannerChatLine> lines;
    for (int i = 0; i < 121; ++i) AppendBannerLine(lines, {"ai", L"Sari", std::to_wstring(i), false});
    ASSERT_EQ(lines.size(), 120u);
    EXPECT_EQ(lines.front().text, L"1");
    EXPECT_EQ(lines.back().text, L"120");
}

// A pulse or any repaint with nothing new measures nothing; a new line measures itself; a
// new width measures every line; and the sizes always match a fresh measurement.
TEST(BannerRules, ChatLinesAreMeasuredOncePerChange) {
    int calls = 0;
    const BannerMeasure counting = [&calls](const std::wstring& text, BannerFont font, float maxWidth) {
        ++calls;
        return FakeMeasure(text, font, maxWidth);
    };
    std::vector<BannerChatLine> lines;
    auto add = [&lines](const char* from, int count) {
        for (int i = 0; i < count; ++i) {
            AppendBannerLine(lines, {from, L"Sari", std::wstring(static_cast<size_t>(i % 50 + 1), L'x'), i % 2 == 0});
        }
    };
    const struct {
        const char* what;
        std::function<void()> change;
        float width;
        int measured;  // a name and a text for each line not from the trainee
    } steps[] = {
        {"first lines",
         [&] {
             add("ai", 1);
             add("operator", 1);
             add("trainee", 1);
         },
         300, 5},
        {"nothing new", [] {}, 300, 0},
        {"one line more", [&] { add("ai", 1); }, 300, 2},
        {"the 121st line drops the first", [&] { add("trainee", 117); }, 300, 117},
        {"a new width", [] {}, 280, 120 + 2},
    };
    float measuredAt = 0;
    for (const auto& step : steps) {
        calls = 0;
        step.change();
        const std::vector<ChatBubbleSize> sizes = MeasureChatLines(lines, step.width, measuredAt, 96, counting);
        EXPECT_EQ(calls, step.measured) << step.what;
        std::vector<BannerChatLine> fresh = lines;
        for (BannerChatLine& line : fresh) line.size.reset();
        float freshAt = 0;
        const std::vector<ChatBubbleSize> expected = MeasureChatLines(fresh, step.width, freshAt, 96, FakeMeasure);
        ASSERT_EQ(sizes.size(), expected.size()) << step.what;
        for (size_t i = 0; i < sizes.size(); ++i) {
            EXPECT_EQ(std::tie(sizes[i].trainee, sizes[i].nameWidth, sizes[i].textWidth, sizes[i].textHeight),
                      std::tie(expected[i].trainee, expected[i].nameWidth, expected[i].textWidth,
                               expected[i].textHeight))
                << step.what << " line " << i;
        }
    }
    EXPECT_EQ(lines.size(), 120u);
    const ChatBubbleSize first = *lines.front().size;  // the operator's line, spoken
    EXPECT_EQ(first.nameWidth, 8 * 4 + 18) << "the spoken mark widens the name line";
}

}  // namespace
