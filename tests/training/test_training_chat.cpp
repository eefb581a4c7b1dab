#include <gtest/gtest.h>

#include "training/training_chat.h"
#include "training_fakes.h"

namespace {

using nlohmann::json;
using sv::training::TrainingChat;
using sv::training::TrainingSession;

struct ChatRig {
    ChatRig() {
        sv::SetAuditDirectory(dir.Path());
        session->trainer = "Bu Sari";
        surface.BeginSession(*session);
    }
    ~ChatRig() { sv::SetAuditDirectory(""); }

    sv_test::ScratchDir dir;
    sv_test::FakeClock clock;
    sv_test::FakeSurface surface;
    sv_test::CapturingSink sink;
    sv::training::TrainingEventLog events{clock.Fn()};
    sv_test::LiveSession live;
    std::shared_ptr<TrainingSession> session = live.session;
    TrainingChat chat{events, sink.Fn(), &surface, live.Fn()};
};

TEST(TrainingChat, PostReadAndTraineeLines) {
    ChatRig rig;
    auto r = rig.chat.Post(rig.session, {{"text", "  hello  "}}, "ctl");
    ASSERT_FALSE(r.failed);
    auto ev = rig.sink.Events("chat");
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(r.data["seq"], ev[0]["seq"]);
    EXPECT_EQ(ev[0]["data"], json({{"from", "ai"}, {"name", "Bu Sari"}, {"text", "  hello  "}, {"spoken", false}}));
    EXPECT_EQ(sv_test::CountContaining(sv_test::AuditLines(rig.dir.Path()), "training | actor=ctl | chat ai len=9"), 1);
    EXPECT_EQ(rig.chat.Post(rig.session, {{"text", " \r\n"}}, "").error, "chat needs text");
    EXPECT_EQ(rig.chat.Post(rig.session, json::object(), "").error, "chat needs text");
    rig.chat.Post(rig.session, {{"text", "x"}, {"as", "operator"}}, "");
    rig.chat.Post(rig.session, {{"text", "y"}, {"as", "AI"}, {"name", ""}}, "");
    rig.chat.OnTraineeLine("  tolong \n");
    rig.chat.OnTraineeLine(" \t ");
    json all = rig.chat.Read(*rig.session, json::object()).data;
    ASSERT_EQ(all["messages"].size(), 4u);
    EXPECT_EQ(all["messages"][1]["name"], "Staf");
    EXPECT_EQ(all["messages"][1]["from"], "operator");
    EXPECT_EQ(all["messages"][2]["from"], "ai");
    EXPECT_EQ(all["messages"][2]["name"], "");
    EXPECT_EQ(all["messages"][3]["from"], "trainee");
    EXPECT_EQ(all["messages"][3]["name"], "Peserta");
    EXPECT_EQ(all["messages"][3]["text"], "tolong");
    EXPECT_EQ(all["seq"], rig.events.LastSeq());
    int64_t second = all["messages"][1]["seq"];
    json later = rig.chat.Read(*rig.session, {{"since", second}}).data;
    ASSERT_EQ(later["messages"].size(), 2u);
    EXPECT_EQ(later["messages"][0]["text"], "y");
    EXPECT_EQ(rig.surface.log.Count("chat trainee tolong"), 1);
    EXPECT_EQ(rig.session->transcript->Entries().size(), 4u);

    // A line of an ended session reaches nobody: not the log, the banner nor the history.
    rig.live.End();
    const int64_t seq = rig.events.LastSeq();
    EXPECT_FALSE(rig.chat.Add(rig.session, "ai", "x", "late", false));
    EXPECT_EQ(rig.chat.Post(rig.session, {{"text", "late"}}, "").error, sv::training::kNoSessionMessage);
    rig.chat.OnTraineeLine("late");
    EXPECT_EQ(rig.events.LastSeq(), seq);
    EXPECT_EQ(rig.session->ChatCount(), 4);
    EXPECT_EQ(rig.surface.log.Count("chat ai late"), 0);
}

}  // namespace
