#include <gtest/gtest.h>

#include "training/activity_reports.h"
#include "training_fakes.h"

namespace {

using nlohmann::json;
using sv::training::ActivityReports;
using sv::training::TrainingSession;

// The reports wired to a session of their own, an inspector, a screen whose origin is
// left of the primary one, and a steady clock the test moves.
struct Rig {
    std::vector<std::string> Kinds() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> out;
        for (auto& e : emitted) out.push_back(e.first);
        return out;
    }
    std::vector<json> Data(const std::string& kind) {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<json> out;
        for (auto& e : emitted)
            if (e.first == kind) out.push_back(e.second);
        return out;
    }

    sv_test::FakeInspector inspector;
    sv_test::LiveSession live;
    std::shared_ptr<TrainingSession> session = live.session;
    std::mutex mutex;
    std::vector<std::pair<std::string, json>> emitted;
    std::atomic<int64_t> steady{5000};
    ActivityReports reports{ActivityReports::Hooks{live.Fn(),
                                                   [this](const std::string& kind, const json& data) {
                                                       std::lock_guard<std::mutex> lock(mutex);
                                                       emitted.emplace_back(kind, data);
                                                   },
                                                   &inspector, [] { return std::make_pair(-1920, 0); },
                                                   [this] { return steady.load(); }}};
};

TEST(ActivityReports, WindowsActivityAndFocusBecomeEvents) {
    Rig rig;
    sv::training::UiElement button;
    button.name = "OK";
    button.controlType = "Button";
    button.rect = {-1900, 300, 80, 24};
    rig.inspector.element = button;
    sv::training::Activity click;
    click.device = "mouse";
    click.action = "click";
    click.x = -1900;
    click.y = 300;
    rig.reports.OnActivity(click);
    sv::training::WindowInfo w;
    w.title = "Save As";
    rig.reports.OnDialog(w);
    rig.reports.OnForeground(w);
    ASSERT_TRUE(sv_test::WaitUntil([&] { return rig.Kinds().size() == 3; }));
    EXPECT_EQ(rig.Kinds(), (std::vector<std::string>{"local-input", "dialog", "foreground"}));
    json local = rig.Data("local-input").at(0);
    EXPECT_EQ(local["x"], 20);
    EXPECT_EQ(local["y"], 300);
    EXPECT_EQ(local["element"]["rect"], json({20, 300, 80, 24}));
    EXPECT_EQ(rig.inspector.log.Count("element-at -1900,300"), 1);
    std::vector<std::string> k;
    for (auto& e : rig.session->transcript->Entries()) k.push_back(e["kind"]);
    EXPECT_EQ(k, (std::vector<std::string>{"trainee-input", "dialog", "foreground"}));

    rig.reports.OnFocus(button);
    rig.reports.OnFocus(button);  // same element: ignored
    sv::training::UiElement other = button;
    other.name = "Cancel";
    rig.steady += 100;
    rig.reports.OnFocus(other);  // too soon: remembered only
    rig.reports.OnFocus(other);  // same as remembered: ignored
    rig.steady += 50;
    rig.reports.OnFocus(button);
    auto focus = rig.Data("focus");
    ASSERT_EQ(focus.size(), 2u);
    EXPECT_EQ(focus[0]["name"], "OK");
    EXPECT_EQ(focus[1]["name"], "OK");
    rig.live.End();
    rig.reports.OnFocus(other);
    rig.reports.OnActivity(click);
    rig.reports.Stop();
    EXPECT_EQ(rig.Data("focus").size(), 2u);
    EXPECT_EQ(rig.Data("local-input").size(), 1u);
}

}  // namespace
