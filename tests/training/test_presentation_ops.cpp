#include <gtest/gtest.h>

#include <string>

#include "training/playback_calls.h"
#include "training/playback_request.h"
#include "training_fakes.h"

namespace {

using nlohmann::json;
using sv_test::AgentHarness;
using sv_test::CountContaining;

// The live transcript's lines of one kind, data only.
std::vector<json> TranscriptData(AgentHarness& h, const std::string& kind) {
    std::vector<json> out;
    const json reply = h.Call("transcript");
    for (const json& e : reply["data"]["entries"]) {
        if (e["kind"] == kind) out.push_back(e.value("data", json()));
    }
    return out;
}

sv::training::SpeechOutcome Outcome(bool played, const std::string& voice, const std::string& error, int ms) {
    sv::training::SpeechOutcome o;
    o.played = played;
    o.voice = voice;
    o.error = error;
    o.durationMs = ms;
    return o;
}

TEST(OverlayOp, ShapesGoToTheSurfaceInDesktopPixelsAndRepliesInCapturePixels) {
    AgentHarness h;
    h.origin = {-1920, 0};
    ASSERT_EQ(h.Call("start")["ok"], true);
    h.surface.banner = sv::training::Box{-1900, 40, 300, 200};

    json r = h.Call("overlay", {{"kind", "Highlight"}, {"x", 100}, {"y", 50}, {"width", 40}, {"height", 30}}, "ctl");
    ASSERT_EQ(r["ok"], true) << r;
    EXPECT_EQ(r["data"], json::parse(R"({"id":"o1","kind":"highlight","bannerMoved":false,"banner":[20,40,300,200]})"));
    ASSERT_EQ(h.surface.shapes.size(), 1u);
    EXPECT_EQ(h.surface.shapes[0].x, -1820);
    EXPECT_EQ(h.surface.shapes[0].y, 50);
    EXPECT_EQ(CountContaining(h.Audit(), "training | actor=ctl | overlay highlight id=o1"), 1);

    // A refused overlay uses up its generated id and leaves no trace.
    EXPECT_EQ(h.Call("overlay", {{"kind", "highlight"}, {"width", 0.4}, {"height", 9}})["error"],
              "highlight needs x, y, width and height (capture_screen pixels)");
    h.surface.bannerOnShow = sv::training::BannerState();  // the banner hides
    json hidden = h.Call("overlay", {{"kind", "text"}, {"text", "Klik di sini"}})["data"];
    EXPECT_EQ(hidden, json::parse(R"({"id":"o3","kind":"text","bannerMoved":true})"));
    EXPECT_EQ(h.surface.shapes.size(), 2u);
    EXPECT_EQ(CountContaining(h.Audit(), "overlay highlight id=o2"), 0);

    auto lines = TranscriptData(h, "overlay");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], json::parse(R"({"kind":"highlight","id":"o1","width":40,"height":30,"x":100,"y":50})"));
    EXPECT_EQ(lines[1], json::parse(R"({"kind":"text","id":"o3","width":0,"height":0,"label":"Klik di sini"})"));
}

TEST(OverlayOp, StepCardsSetTheBannerStepAndClearTakesOneOrAll) {
    AgentHarness h;
    ASSERT_EQ(h.Call("start")["ok"], true);
    json r = h.Call("overlay", {{"kind", "step"}, {"id", "s"}, {"title", "Buka menu"}, {"index", 2}, {"x", 5}});
    ASSERT_EQ(r["ok"], true) << r;
    EXPECT_EQ(h.surface.log.Count("step 2 - Buka menu"), 1);
    EXPECT_TRUE(h.surface.shapes.at(0).hasPoint);
    EXPECT_EQ(h.surface.shapes.at(0).label, "Buka menu");
    EXPECT_EQ(TranscriptData(h, "step"), std::vector<json>{json::parse(R"({"title":"Buka menu","index":2})")});
    EXPECT_TRUE(TranscriptData(h, "overlay").empty());

    EXPECT_EQ(h.Call("clear", json::object(), "ctl")["data"], json::parse(R"({"cleared":"all"})"));
    EXPECT_EQ(h.Call("clear", {{"id", 7}}, "ctl")["data"], json::parse(R"({"cleared":"7"})"));
    EXPECT_EQ(h.surface.log.Count("clear "), 1);
    EXPECT_EQ(h.surface.log.Count("clear 7"), 1);
    EXPECT_EQ(CountContaining(h.Audit(), "training | actor=ctl | clear all"), 1);
    EXPECT_EQ(CountContaining(h.Audit(), "training | actor=ctl | clear 7"), 1);
}

TEST(BannerOp, MovesTheBannerOrSaysWhyNot) {
    AgentHarness h;
    h.origin = {-1920, -100};
    ASSERT_EQ(h.Call("start")["ok"], true);

    EXPECT_EQ(h.Call("banner", {{"position", "middle"}})["error"],
              "position must be top-left, top-right, bottom-left, bottom-right or auto");
    EXPECT_EQ(h.surface.log.Count("banner middle -"), 0);
    EXPECT_EQ(h.Call("banner", {{"compact", true}})["error"], "the banner is not showing");

    h.surface.placement.visible = true;
    h.surface.placement.rect = sv::training::Box{-1900, -60, 300, 200};
    h.surface.placement.corner = "top-left";
    h.surface.placement.compact = true;
    json r = h.Call("banner", {{"position", " Top-Left "}, {"compact", true}}, "ctl");
    EXPECT_EQ(r["data"], json::parse(R"({"banner":[20,40,300,200],"compact":true,"position":"top-left"})"));
    EXPECT_EQ(h.surface.log.Count("banner top-left compact"), 1);
    EXPECT_EQ(CountContaining(h.Audit(),
                              "training | actor=ctl | banner position=top-left compact=True -> top-left compact=True"),
              1);

    h.surface.placement.corner = "";  // the trainee dragged it
    h.surface.placement.compact = false;
    r = h.Call("banner", {{"compact", "yes"}});
    EXPECT_EQ(r["data"], json::parse(R"({"banner":[20,40,300,200],"compact":false})"));
    EXPECT_EQ(h.surface.log.Count("banner  -"), 1);
    EXPECT_EQ(h.surface.log.Count("banner  compact"), 1);
    EXPECT_EQ(CountContaining(h.Audit(), "banner position=- compact=- -> dragged compact=False"), 1);
}

TEST(SayOp, SpeaksRecordsAndAnswersWithTheOutcome) {
    AgentHarness h;
    ASSERT_EQ(h.Call("start", {{"trainer", "Bu Sari"}, {"language", "jv-ID"}})["ok"], true);
    h.surface.speakOutcome = Outcome(true, "Andika", "", 900);

    json r = h.Call("say", {{"text", "Halo semua"}, {"voice", "andika"}}, "ctl");
    EXPECT_EQ(r["data"], json::parse(R"({"played":true,"muted":false,"durationMs":900,"voice":"Andika"})"));
    ASSERT_EQ(h.surface.speeches.size(), 1u);
    EXPECT_EQ(h.surface.speeches[0].text, "Halo semua");
    EXPECT_EQ(h.surface.speeches[0].voice, "andika");
    EXPECT_EQ(h.surface.speeches[0].culture, "jv-ID");
    EXPECT_EQ(h.surface.Timeouts(), std::vector<uint32_t>{sv::training::SpeechTimeoutMs("Halo semua")});
    auto chat = h.sink.Events("chat");
    ASSERT_EQ(chat.size(), 1u);
    EXPECT_EQ(chat[0]["data"], json::parse(R"({"from":"ai","name":"Bu Sari","text":"Halo semua","spoken":true})"));
    EXPECT_EQ(CountContaining(h.Audit(), "training | actor=ctl | say len=10"), 1);

    // A failed playback is an op error that still carries the outcome; "chat": false keeps
    // the line out of the chat but not out of the transcript.
    h.surface.speakOutcome = Outcome(false, "", "No id-ID voice is installed on this PC", 0);
    r = h.Call("say", {{"text", "Lagi"}, {"chat", false}});
    EXPECT_EQ(r["ok"], false);
    EXPECT_EQ(r["error"], "No id-ID voice is installed on this PC");
    EXPECT_EQ(r["data"]["error"], "No id-ID voice is installed on this PC");
    EXPECT_EQ(h.sink.Events("chat").size(), 1u);
    EXPECT_EQ(TranscriptData(h, "say"),
              (std::vector<json>{json::parse(R"({"text":"Halo semua","voice":"andika"})"), json{{"text", "Lagi"}}}));

    // Refusals leave no trace at all.
    EXPECT_EQ(h.Call("say", {{"text", "  "}})["error"], "say needs text");
    EXPECT_EQ(h.surface.speeches.size(), 2u);
    EXPECT_EQ(CountContaining(h.Audit(), "say len="), 2);
}

TEST(SayOp, WithoutWaitingTheOutcomeComesAsAnEvent) {
    AgentHarness h;
    ASSERT_EQ(h.Call("start")["ok"], true);
    h.surface.speakOutcome = Outcome(false, "", "SAPI is not available", 0);
    EXPECT_EQ(h.Call("say", {{"text", "Halo"}, {"wait", false}})["data"], json::parse(R"({"queued":true})"));
    auto done = h.sink.WaitEvent("speech-done");
    ASSERT_TRUE(done);
    EXPECT_EQ((*done)["data"], json::parse(R"({"played":false,"muted":false,"durationMs":0,"error":"SAPI is not available"})"));
}

TEST(AudioOp, PlaysTheDecodedClipAndRecordsIt) {
    AgentHarness h;
    ASSERT_EQ(h.Call("start", {{"trainer", "Bu Sari"}})["ok"], true);
    EXPECT_EQ(h.Call("audio", {{"data", "aGk="}, {"ext", "ogg"}, {"caption", "x"}})["error"],
              "audio ext must be mp3, wav, m4a or wma");
    EXPECT_EQ(h.Call("audio", {{"data", "a*"}})["error"], "audio data must be base64");
    EXPECT_TRUE(h.sink.Events("chat").empty());

    h.surface.audioOutcome = Outcome(true, "", "", 3000);
    json r = h.Call("audio", {{"data", "aGk=\n"}, {"ext", "..WAV"}, {"caption", "Dengar"}}, "ctl");
    EXPECT_EQ(r["data"], json::parse(R"({"played":true,"muted":false,"durationMs":3000})"));
    ASSERT_EQ(h.surface.clips.size(), 1u);
    EXPECT_EQ(h.surface.clips[0].extension, "wav");
    EXPECT_EQ(*h.surface.clips[0].bytes, (std::vector<uint8_t>{'h', 'i'}));
    EXPECT_EQ(h.surface.Timeouts(), std::vector<uint32_t>{sv::training::kAudioTimeoutMs});
    EXPECT_EQ(h.sink.Events("chat").at(0)["data"]["text"], "Dengar");
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
    h.surface.speakOutcome = Outcome(true, "V", "", 1);
    h.Send("waiting", "say", {{"text", "satu"}});
    h.Send("queued", "audio", {{"data", "aGk="}, {"wait", false}});
    ASSERT_TRUE(h.sink.WaitReply("queued"));
    ASSERT_TRUE(h.surface.WaitInPlayback(2));

    ASSERT_EQ(h.Call("end")["ok"], true);
    auto waiting = h.sink.WaitReply("waiting");
    ASSERT_TRUE(waiting);
    EXPECT_EQ((*waiting)["error"], sv::training::PlaybackCalls::kStopped);
    EXPECT_EQ((*waiting)["data"]["played"], false);
    auto done = h.sink.WaitEvent("audio-done");
    ASSERT_TRUE(done);
    EXPECT_EQ((*done)["data"]["error"], sv::training::PlaybackCalls::kStopped);

    // The surface calls finish on their own; a later session plays again.
    h.surface.ReleasePlayback();
    ASSERT_TRUE(h.surface.log.WaitFor("speak-done"));
    ASSERT_TRUE(h.surface.log.WaitFor("play-done"));
    ASSERT_EQ(h.Call("start")["ok"], true);
    EXPECT_EQ(h.Call("say", {{"text", "dua"}})["data"]["played"], true);
}

TEST(PlaybackWaits, ShutdownIsNotHeldByASurfaceThatNeverReturns) {
    AgentHarness h;
    ASSERT_EQ(h.Call("start")["ok"], true);
    h.surface.blockPlayback = true;
    h.Send("waiting", "say", {{"text", "satu"}});
    ASSERT_TRUE(h.surface.WaitInPlayback(1));
    h.Agent().Shutdown();
    auto waiting = h.sink.WaitReply("waiting", 0);
    ASSERT_TRUE(waiting);
    EXPECT_EQ((*waiting)["error"], sv::training::PlaybackCalls::kStopped);
    EXPECT_EQ(CountContaining(h.Audit(), "shutdown leaves 1 playback call(s) in the surface"), 1);
    EXPECT_EQ(CountContaining(h.Audit(), "shutdown waits for"), 0);
}

TEST(TrainingChat, TraineeTextIsCutAtCodePointsNeverInsideOne) {
    AgentHarness h;
    ASSERT_EQ(h.Call("start")["ok"], true);
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "\xE2\x82\xAC";  // the euro sign, three bytes
    h.surface.OnTraineeChat("  " + text + "\n");
    json m = h.Call("chat-read")["data"]["messages"];
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0]["text"], text.substr(0, 6000));
    EXPECT_EQ(CountContaining(h.Audit(), "chat trainee len=2000"), 1);
}

}  // namespace
