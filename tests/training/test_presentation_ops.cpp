#include <gtest/gtest.h>

#include <string>

#include "training/playback_calls.h"
#include "training/playback_request.h"
#include "training_fakes.h"

namespace {

using nlohmann::json;
using sv_test::AgentHarness;
using sv_test::CountContaining;
using sv::training::PlaybackCalls;

// The live transcript's lines of one kind, data only.
std::vector<json> TranscriptData(AgentHarness& h, const std::string& kind) {
    std::vector<json> out;
    const json reply = h.Call("transcript");
    for (const json& e : reply["data"]["entries"]) {
        if (e["kind"] == kind) out.push_back(e.value("data", json()));
    }
    return out;
}

sv::training::SpeechOutcome Outcome(bool played, const std::string& error, int ms) {
    sv::training::SpeechOutcome o;
    o.played = played;
    o.error = error;
    o.durationMs = ms;
    return o;
}

TEST(OverlayOp, ShapesGoOutInDesktopPixelsAndRepliesComeBackInCapturePixels) {
    AgentHarness h;
    h.origin = {-1920, 0};
    ASSERT_EQ(h.Call("start")["ok"], true);
    h.surface.banner = sv::training::Box{-1900, 40, 300, 200};
    json r = h.Call("overlay", {{"kind", "Highlight"}, {"x", 100}, {"y", 50}, {"width", 40}, {"height", 30}}, "ctl");
    EXPECT_EQ(r["data"], json::parse(R"({"id":"o1","kind":"highlight","bannerMoved":false,"banner":[20,40,300,200]})"));
    EXPECT_EQ(h.surface.shapes.at(0).x, -1820);
    EXPECT_EQ(CountContaining(h.Audit(), "training | actor=ctl | overlay highlight id=o1"), 1);

    // A refused overlay uses up its generated id and leaves no trace.
    EXPECT_EQ(h.Call("overlay", {{"kind", "highlight"}})["ok"], false);
    h.surface.bannerOnShow = sv::training::BannerState();  // the banner hides
    EXPECT_EQ(h.Call("overlay", {{"kind", "text"}, {"text", "Klik"}})["data"],
              json::parse(R"({"id":"o3","kind":"text","bannerMoved":true})"));
    EXPECT_EQ(h.surface.shapes.size(), 2u);
    EXPECT_EQ(TranscriptData(h, "overlay"),
              (std::vector<json>{json::parse(R"({"kind":"highlight","id":"o1","width":40,"height":30,"x":100,"y":50})"),
                                 json::parse(R"({"kind":"text","id":"o3","width":0,"height":0,"label":"Klik"})")}));

    ASSERT_EQ(h.Call("overlay", {{"kind", "step"}, {"title", "Buka menu"}, {"index", 2}})["ok"], true);
    EXPECT_EQ(h.surface.log.Count("step 2 - Buka menu"), 1);
    EXPECT_EQ(TranscriptData(h, "step"), std::vector<json>{json::parse(R"({"title":"Buka menu","index":2})")});

    EXPECT_EQ(h.Call("clear", json::object(), "ctl")["data"], json::parse(R"({"cleared":"all"})"));
    EXPECT_EQ(h.Call("clear", {{"id", 7}}, "ctl")["data"], json::parse(R"({"cleared":"7"})"));
    EXPECT_EQ(h.surface.log.Count("clear "), 1);
    EXPECT_EQ(h.surface.log.Count("clear 7"), 1);
    EXPECT_EQ(CountContaining(h.Audit(), "training | actor=ctl | clear all"), 1);
}

TEST(BannerOp, MovesTheBannerOrSaysWhyNot) {
    AgentHarness h;
    h.origin = {-1920, -100};
    ASSERT_EQ(h.Call("start")["ok"], true);
    EXPECT_EQ(h.Call("banner", {{"position", "middle"}})["error"],
              "position must be top-left, top-right, bottom-left, bottom-right or auto");
    EXPECT_EQ(h.Call("banner", {{"compact", true}})["error"], "the banner is not showing");
    EXPECT_EQ(h.surface.log.Calls().back(), "banner  compact");

    h.surface.placement = {sv::training::Box{-1900, -60, 300, 200}, true, "top-left", true};
    json r = h.Call("banner", {{"position", " Top-Left "}, {"compact", false}}, "ctl");
    EXPECT_EQ(r["data"], json::parse(R"({"banner":[20,40,300,200],"compact":true,"position":"top-left"})"));
    EXPECT_EQ(h.surface.log.Calls().back(), "banner top-left full");
    EXPECT_EQ(CountContaining(h.Audit(), "actor=ctl | banner position=top-left compact=False -> top-left compact=True"), 1);
    h.surface.placement.corner = "";  // the trainee dragged it
    EXPECT_EQ(h.Call("banner")["data"], json::parse(R"({"banner":[20,40,300,200],"compact":true})"));
    EXPECT_EQ(CountContaining(h.Audit(), "banner position=- compact=- -> dragged compact=True"), 1);
}

TEST(SayOp, SpeaksRecordsAndAnswersWithTheOutcomeOrLaterWithAnEvent) {
    AgentHarness h;
    ASSERT_EQ(h.Call("start", {{"trainer", "Bu Sari"}, {"language", "jv-ID"}})["ok"], true);
    h.surface.speakOutcome = Outcome(true, "", 900);
    json r = h.Call("say", {{"text", "Halo semua"}, {"voice", "andika"}}, "ctl");
    EXPECT_EQ(r["data"], json::parse(R"({"played":true,"muted":false,"durationMs":900})"));
    EXPECT_EQ(h.surface.speeches.at(0).culture, "jv-ID");
    EXPECT_EQ(h.surface.speeches.at(0).voice, "andika");
    EXPECT_EQ(h.surface.Timeouts(), std::vector<uint32_t>{sv::training::SpeechTimeoutMs("Halo semua")});
    EXPECT_EQ(h.sink.Events("chat").at(0)["data"],
              json::parse(R"({"from":"ai","name":"Bu Sari","text":"Halo semua","spoken":true})"));
    EXPECT_EQ(CountContaining(h.Audit(), "training | actor=ctl | say len=10"), 1);

    // A failed playback is an op error that still carries the outcome; "chat": false keeps
    // the line out of the chat, not out of the transcript.
    h.surface.speakOutcome = Outcome(false, "No id-ID voice is installed on this PC", 0);
    r = h.Call("say", {{"text", "Lagi"}, {"chat", false}});
    EXPECT_EQ(r["error"], "No id-ID voice is installed on this PC");
    EXPECT_EQ(r["data"]["error"], r["error"]);
    EXPECT_EQ(h.sink.Events("chat").size(), 1u);
    EXPECT_EQ(TranscriptData(h, "say"),
              (std::vector<json>{json::parse(R"({"text":"Halo semua","voice":"andika"})"), json{{"text", "Lagi"}}}));

    EXPECT_EQ(h.Call("say", {{"text", "Nanti"}, {"wait", false}})["data"], json::parse(R"({"queued":true})"));
    auto done = h.sink.WaitEvent("speech-done");
    ASSERT_TRUE(done);
    EXPECT_EQ((*done)["data"]["error"], "No id-ID voice is installed on this PC");
}

TEST(AudioOp, PlaysTheDecodedClipAndRecordsIt) {
    AgentHarness h;
    ASSERT_EQ(h.Call("start")["ok"], true);
    EXPECT_EQ(h.Call("audio", {{"data", "a*"}, {"caption", "x"}})["error"], "audio data must be base64");
    EXPECT_TRUE(h.sink.Events("chat").empty());

    h.surface.audioOutcome = Outcome(true, "", 3000);
    json r = h.Call("audio", {{"data", "aGk=\n"}, {"ext", "..WAV"}, {"caption", "Dengar"}}, "ctl");
    EXPECT_EQ(r["data"], json::parse(R"({"played":true,"muted":false,"durationMs":3000})"));
    EXPECT_EQ(h.surface.clips.at(0).extension, "wav");
    EXPECT_EQ(*h.surface.clips.at(0).bytes, (std::vector<uint8_t>{'h', 'i'}));
    EXPECT_EQ(h.surface.Timeouts(), std::vector<uint32_t>{sv::training::kAudioTimeoutMs});
    EXPECT_EQ(CountContaining(h.Audit(), "training | actor=ctl | audio wav bytes=2"), 1);
    // An empty caption is recorded as sent but adds no chat line.
    EXPECT_EQ(h.Call("audio", {{"data", "aGk="}, {"caption", ""}, {"wait", false}})["data"]["queued"], true);
    ASSERT_TRUE(h.sink.WaitEvent("audio-done"));
    EXPECT_EQ(h.sink.Events("chat").size(), 1u);
    EXPECT_EQ(TranscriptData(h, "audio"), (std::vector<json>{json::parse(R"({"bytes":2,"ext":"wav","caption":"Dengar"})"),
                                                              json::parse(R"({"bytes":2,"ext":"mp3","caption":""})")}));
}

TEST(PlaybackWaits, EndingTheSessionReleasesWaitingRequestsAndReports) {
    AgentHarness h;
    ASSERT_EQ(h.Call("start")["ok"], true);
    h.surface.blockPlayback = true;
    h.Send("waiting", "say", {{"text", "satu"}});
    h.Send("queued", "audio", {{"data", "aGk="}, {"wait", false}});
    ASSERT_TRUE(h.sink.WaitReply("queued"));
    ASSERT_TRUE(h.surface.WaitInPlayback(2));
    ASSERT_EQ(h.Call("end")["ok"], true);
    auto waiting = h.sink.WaitReply("waiting");
    ASSERT_TRUE(waiting);
    EXPECT_EQ((*waiting)["error"], PlaybackCalls::kStopped);

    // The surface calls finish (cut off by the end); the report tells what the surface said.
    h.surface.ReleasePlayback();
    auto done = h.sink.WaitEvent("audio-done");
    ASSERT_TRUE(done);
    EXPECT_EQ((*done)["data"]["error"], PlaybackCalls::kStopped);
    ASSERT_TRUE(h.surface.log.WaitFor("speak-done"));
    ASSERT_TRUE(h.surface.log.WaitFor("play-done"));
    h.surface.speakOutcome = Outcome(true, "", 1);
    ASSERT_EQ(h.Call("start")["ok"], true);
    EXPECT_EQ(h.Call("say", {{"text", "dua"}})["data"]["played"], true);
}

TEST(PlaybackWaits, ShutdownIsNotHeldByASurfaceThatNeverReturns) {
    AgentHarness h;
    h.hooks.bounds.shutdownGraceMs = 50;
    h.hooks.bounds.shutdownFinalMs = 100;
    ASSERT_EQ(h.Call("start")["ok"], true);
    h.surface.blockPlayback = true;
    h.Send("waiting", "say", {{"text", "satu"}});
    ASSERT_TRUE(h.surface.WaitInPlayback(1));
    // The call is still inside the surface: the owner must keep the surface alive.
    EXPECT_FALSE(h.Agent().Shutdown());
    auto waiting = h.sink.WaitReply("waiting", 0);
    ASSERT_TRUE(waiting);
    EXPECT_EQ((*waiting)["error"], PlaybackCalls::kStopped);
    EXPECT_EQ(CountContaining(h.Audit(), "and 1 playback call(s) still running"), 1);
}

}  // namespace
