#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "base/audit_log.h"
#include "base/file_io.h"
#include "base/ui_theme.h"
#include "session/screen/screen_capture.h"
#include "test_support.h"

namespace {

TEST(UiThemeRules, SettingAndDarkness) {
    struct Case {
        const char* settings;
        std::optional<uint32_t> appsUseLight;
        const char* setting;
        bool dark;
    } cases[] = {
        {R"({"Theme":"light","theme":"dark"})", 1, "dark", true},    // the lower-case key wins
        {R"({"Theme":"dark","theme":"light"})", 0, "light", false},  // an explicit choice beats the system
        {R"({"theme":"Dark"})", std::nullopt, "Dark", false},        // letter case: the system decides, light
        {R"({"theme":"Dark"})", 0, "Dark", true},
        {R"({"theme":"system"})", 1, "system", false},
        {R"({"Theme":"dark","theme":7})", 1, "dark", true},           // a non-string is ignored
        {"not json", 0, "system", true},
        {"[\"dark\"]", std::nullopt, "system", false},
        {"", std::nullopt, "system", false},
    };
    for (const Case& c : cases) {
        std::string setting = sv::ThemeSettingFromSettingsText(c.settings);
        EXPECT_EQ(setting, c.setting) << c.settings;
        EXPECT_EQ(sv::ThemeIsDark(setting, c.appsUseLight), c.dark) << c.settings;
    }
}

TEST(UiThemeRules, FontReportLine) {
    struct Case {
        sv::UiFontTally tally;
        int inUse;
        const char* line;
    } cases[] = {
        {{3, 3, true, ""}, 3, "font: Poppins loaded (3 faces)"},
        {{2, 2, false, " res 202 family"}, 0,
         "font: Poppins NOT loaded (2 faces; res 202 family) - falling back to Segoe UI"},
        {{2, 3, true, " gdi 201"}, 0, "font: Poppins NOT loaded (3 faces; gdi 201) - falling back to Segoe UI"},
        {{3, 3, false, " family"}, 0, "font: Poppins NOT loaded (3 faces; family) - falling back to Segoe UI"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sv::UiFontFacesInUse(c.tally), c.inUse) << c.line;
        EXPECT_EQ(sv::FormatUiFontReport(c.tally), c.line);
    }
    sv::UiFontTally longReasons{0, 0, false, std::string(400, 'x')};
    EXPECT_LT(sv::FormatUiFontReport(longReasons).size(), 160u);
}

class UiFontTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sv::StartGdiplus()); }
    void TearDown() override { sv::SetAuditDirectory(""); }
    static std::optional<std::string> FaceFile(int id) {
        const char* names[] = {"Poppins_400Regular.ttf", "Poppins_500Medium.ttf", "Poppins_600SemiBold.ttf"};
        if (id < 201 || id > 203) return std::nullopt;
        std::string bytes;
        if (!sv::ReadWholeFile(std::string("Z:") + SV_TEST_FONT_DIR + "/" + names[id - 201], bytes)) {
            return std::nullopt;
        }
        return bytes;
    }
};

TEST_F(UiFontTest, EmbeddedFacesOrFallback) {
    struct Case {
        int missing;  // resource id left out, 0 for none
        const char* line;
        const wchar_t* semiBoldFace;
    } cases[] = {
        {0, "font: Poppins loaded (3 faces)", L"Poppins SemiBold"},
        {202, "font: Poppins NOT loaded (2 faces; res 202", L"Segoe UI"},
    };
    for (const Case& c : cases) {
        sv::UiFontSet set;
        std::string line = set.Load([&](int id) { return id == c.missing ? std::nullopt : FaceFile(id); });
        EXPECT_EQ(line.rfind(c.line, 0), 0u) << line;
        EXPECT_EQ(set.FaceName(sv::UiFontWeight::SemiBold), c.semiBoldFace);
        EXPECT_EQ(set.Collection() != nullptr, c.missing == 0);
        if (c.missing == 0) {
            for (auto weight : {sv::UiFontWeight::Regular, sv::UiFontWeight::Medium, sv::UiFontWeight::SemiBold}) {
                EXPECT_NE(set.Create(weight, 17.0f), nullptr) << static_cast<int>(weight);
            }
        }
    }
}

// The process-wide fonts load once per process: this is the test program's only user.
TEST_F(UiFontTest, ProcessLoadReportsOnceAndStaysReleased) {
    sv_test::ScratchDir dir;
    sv::SetAuditDirectory(dir.Path());
    // This test program carries no font resources, so the load falls back.
    EXPECT_EQ(sv::LoadUiFonts(), 0);
    EXPECT_FALSE(sv::UiFontsAvailable());
    EXPECT_EQ(sv::GetUiFontCollection(), nullptr);
    EXPECT_EQ(sv::GetUiFontFaceName(sv::UiFontWeight::Regular), L"Segoe UI");
    // After the release (GDI+ about to stop) nothing loads, reports or makes a font again.
    sv::ReleaseUiFonts();
    EXPECT_EQ(sv::CreateUiFont(sv::UiFontWeight::Regular, 12.0f), nullptr);
    EXPECT_EQ(sv::LoadUiFonts(), 0);
    EXPECT_EQ(sv::GetUiFontFaceName(sv::UiFontWeight::SemiBold), L"Segoe UI");
    std::string log;
    for (const std::string& name : sv_test::ListFiles(dir.Path())) {
        std::string text;
        ASSERT_TRUE(sv::ReadWholeFile(dir.Path() + "\\" + name, text));
        log += text;
    }
    const std::string line =
        " | font | font: Poppins NOT loaded (0 faces; res 201 res 202 res 203 family family family) - falling "
        "back to Segoe UI\n";
    ASSERT_NE(log.find(line), std::string::npos) << log;
    EXPECT_EQ(log.find(line), log.rfind(line)) << "reported more than once";
}

TEST(UiTheme, ReadsTheDataDirectory) {
    sv_test::ScratchDir dir;
    ASSERT_TRUE(sv::WriteTextFile(sv::JoinDataPath(dir.Path(), "host-ui.json"), R"({"Theme":"light","theme":"dark"})"));
    EXPECT_TRUE(sv::IsDarkTheme(dir.Path()));
    ASSERT_TRUE(sv::WriteTextFile(sv::JoinDataPath(dir.Path(), "host-ui.json"), R"({"theme":"light"})"));
    EXPECT_FALSE(sv::IsDarkTheme(dir.Path()));
}

}  // namespace
