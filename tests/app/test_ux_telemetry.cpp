#include "app/ux_telemetry.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

sv::HttpResponse Answer(int32_t status, const std::string& body = std::string()) {
    sv::HttpResponse r;
    r.status = status;
    r.body.assign(body.begin(), body.end());
    return r;
}

const char kEnabled[] = R"({"data":{"enabled":true}})";

// A fake endpoint and clocks. Answers per path ("/config", "/events"); every request kept.
struct FakeUx {
    struct Request {
        std::string method, url;
        nlohmann::json body;
        uint32_t timeoutMs;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, sv::HttpResponse> answers;
    std::vector<Request> requests;
    std::function<void(const std::string& method)> during;  // runs while a request is out
    int64_t steadyNs = 1000;
    int64_t systemMs = 951782400123;
    int ids = 0;

    sv::UxIo Io() {
        sv::UxIo io;
        io.http = [this](const std::string& method, const std::string& url, const std::string& body,
                         const std::string&, uint32_t timeoutMs) {
            std::function<void(const std::string&)> hook;
            sv::HttpResponse answer;
            {
                std::lock_guard<std::mutex> lock(mutex);
                requests.push_back(
                    {method, url, body.empty() ? nlohmann::json() : nlohmann::json::parse(body), timeoutMs});
                const std::string path = url.substr(url.rfind('/'));
                answer = answers.count(path) ? answers[path] : Answer(0);
                hook = during;
                changed.notify_all();
            }
            if (hook) hook(method);
            return answer;
        };
        io.steadyNs = [this] { return steadyNs; };
        io.systemMs = [this] { return systemMs; };
        io.newId = [this] { return "id" + std::to_string(++ids); };
        return io;
    }
    std::vector<size_t> PostedSizes() {
        std::vector<size_t> sizes;
        for (const Request& r : requests) {
            if (r.method == "POST") sizes.push_back(r.body["events"].size());
        }
        return sizes;
    }
};

const std::string kBase = "https://api.test/api/ux";

void StartQuiet(sv::UxTelemetry& ux) {
    // A period no test waits for: rounds run by hand.
    ASSERT_TRUE(ux.Start("https://api.test", "ca.pem", "1.1.6", nullptr, std::chrono::hours(1)));
}

void Track(sv::UxTelemetry& ux, int from, int count) {
    for (int i = from; i < from + count; ++i) ux.TrackAction(("a" + std::to_string(i)).c_str());
}

}  // namespace

TEST(UxTelemetry, ConfigAnswers) {
    struct Case {
        int32_t status;
        const char* body;
        bool ok, enabled, gone;
    } cases[] = {
        {200, kEnabled, true, true, false},
        {204, R"({"data":{"enabled":false}})", true, false, false},
        {200, R"({"data":{"enabled":"yes"}})", false, false, false},
        {200, R"({"data":true})", false, false, false},
        {200, R"([1])", false, false, false},
        {200, "not json", false, false, false},
        {404, kEnabled, false, false, true},
        {405, "", false, false, true},
        {500, kEnabled, false, false, false},
        {0, "", false, false, false},
    };
    for (const Case& c : cases) {
        sv::UxConfig config = sv::ParseUxConfig(c.status, c.body);
        EXPECT_EQ(config.ok, c.ok) << c.status << " " << c.body;
        EXPECT_EQ(config.enabled, c.enabled) << c.status << " " << c.body;
        EXPECT_EQ(config.gone, c.gone) << c.status << " " << c.body;
    }
}

TEST(UxTelemetry, SettingsAndFormats) {
    EXPECT_EQ(sv::UxBaseUrl("https://api.test//"), "https://api.test/api/ux");
    EXPECT_EQ(sv::UxBaseUrl("https://api.test"), "https://api.test/api/ux");
    for (const char* off : {"off", "OFF", "oFf"}) EXPECT_TRUE(sv::UxTurnedOff(off)) << off;
    for (const char* on : {"https://ux.test", "", "of", "offf", " off"}) EXPECT_FALSE(sv::UxTurnedOff(on)) << on;
    EXPECT_FALSE(sv::UxTurnedOff(nullptr));
    EXPECT_EQ(sv::FormatUxTimestamp(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(sv::FormatUxTimestamp(951782400123), "2000-02-29T00:00:00.123Z");
    EXPECT_EQ(sv::FormatUxTimestamp(1798761599999), "2026-12-31T23:59:59.999Z");
    std::string id = sv::MakeRandomHexId();
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST(UxTelemetry, RecordsOnlyOnceStartedAndNotWhenOff) {
    FakeUx fake;
    sv::UxTelemetry ux(fake.Io());
    ux.TrackAction("copy_host_id");
    EXPECT_EQ(ux.Queued(), 0u);
    EXPECT_FALSE(ux.Start("https://api.test", "ca", "1.1.6", "OFF", std::chrono::hours(1)));
    EXPECT_FALSE(ux.Start("", "ca", "1.1.6", nullptr, std::chrono::hours(1)));
    ux.TrackAction("copy_host_id");
    EXPECT_EQ(ux.Queued(), 0u);
}

TEST(UxTelemetry, RecordsCarryTheirFields) {
    FakeUx fake;
    sv::UxTelemetry ux(fake.Io());
    StartQuiet(ux);
    ux.TrackScreenView("window");
    fake.steadyNs += 2500 * 1000000LL;
    ux.TrackScreenView("window");  // the same screen again: no event
    ux.TrackScreenView("tray");
    ux.TrackAction("exit");
    std::string body;
    uint64_t last = 0;
    ASSERT_EQ(ux.DrainEvents(body, last), 3u);
    nlohmann::json events = nlohmann::json::parse(body)["events"];
    EXPECT_EQ(events[0], nlohmann::json::parse(R"({"app":"sorvane-host-win7","app_version":"1.1.6",
        "session_id":"id1","event":"screen_view","duration_ms":null,"meta":null,
        "created_at":"2000-02-29T00:00:00.123Z","screen":"window"})"));
    EXPECT_EQ(events[1]["duration_ms"], 2500);
    EXPECT_EQ(events[1]["meta"], nlohmann::json::parse(R"({"from":"window"})"));
    EXPECT_EQ(events[1]["screen"], "tray");
    EXPECT_EQ(events[2]["event"], "action_done");
    EXPECT_EQ(events[2]["meta"], nlohmann::json::parse(R"({"action":"exit"})"));
    EXPECT_TRUE(events[2]["duration_ms"].is_null());
    EXPECT_EQ(ux.Queued(), 3u);  // draining sends nothing and removes nothing
}

TEST(UxTelemetry, SessionRenewsAfterThirtyIdleMinutes) {
    FakeUx fake;
    sv::UxTelemetry ux(fake.Io());
    StartQuiet(ux);
    ux.TrackAction("a");
    fake.steadyNs += 29 * 60 * 1000000000LL;
    ux.TrackAction("b");
    EXPECT_EQ(ux.SessionId(), "id1");
    fake.steadyNs += 31 * 60 * 1000000000LL;
    ux.TrackAction("c");
    EXPECT_EQ(ux.SessionId(), "id2");
}

TEST(UxTelemetry, QueueKeepsTheNewestThousand) {
    FakeUx fake;
    sv::UxTelemetry ux(fake.Io());
    StartQuiet(ux);
    Track(ux, 0, 1001);
    EXPECT_EQ(ux.Queued(), 1000u);
    std::string body;
    uint64_t last = 0;
    ASSERT_EQ(ux.DrainEvents(body, last), 200u);
    EXPECT_EQ(nlohmann::json::parse(body)["events"][0]["meta"]["action"], "a1");
}

TEST(UxTelemetry, ExchangeOutcomes) {
    struct Case {
        const char* name;
        sv::HttpResponse config;
        sv::HttpResponse post;
        int queued;
        std::vector<size_t> posts;
        size_t left;
        bool started;
    } cases[] = {
        {"nothing queued: no request", Answer(200, kEnabled), Answer(200), 0, {}, 0, true},
        {"three batches", Answer(200, kEnabled), Answer(200), 450, {200, 200, 50}, 0, true},
        {"disabled empties the queue", Answer(200, R"({"data":{"enabled":false}})"), Answer(200), 5, {}, 0, true},
        {"not a boolean keeps it", Answer(200, R"({"data":{"enabled":"yes"}})"), Answer(200), 5, {}, 5, true},
        {"config unreachable", Answer(0), Answer(200), 5, {}, 5, true},
        {"endpoint gone", Answer(404), Answer(200), 5, {}, 5, false},
        {"server error keeps the batch", Answer(200, kEnabled), Answer(500), 250, {200}, 250, true},
        {"no answer keeps the batch", Answer(200, kEnabled), Answer(0), 5, {5}, 5, true},
        {"malformed batch is dropped", Answer(200, kEnabled), Answer(413), 250, {200, 50}, 0, true},
        {"422 too", Answer(200, kEnabled), Answer(422), 5, {5}, 0, true},
    };
    for (const Case& c : cases) {
        FakeUx fake;
        fake.answers["/config"] = c.config;
        fake.answers["/events"] = c.post;
        sv::UxTelemetry ux(fake.Io());
        StartQuiet(ux);
        Track(ux, 0, c.queued);
        ux.RunRound(kBase, "ca.pem");
        EXPECT_EQ(fake.PostedSizes(), c.posts) << c.name;
        EXPECT_EQ(ux.Queued(), c.left) << c.name;
        EXPECT_EQ(ux.Started(), c.started) << c.name;
        if (c.queued > 0) {
            ASSERT_FALSE(fake.requests.empty()) << c.name;
            EXPECT_EQ(fake.requests[0].method, "GET");
            EXPECT_EQ(fake.requests[0].url, kBase + "/config");
            EXPECT_EQ(fake.requests[0].timeoutMs, 15000u);
        }
    }
}

TEST(UxTelemetry, AfterGoneNothingMoreIsRecordedOrAsked) {
    FakeUx fake;
    fake.answers["/config"] = Answer(405);
    sv::UxTelemetry ux(fake.Io());
    StartQuiet(ux);
    Track(ux, 0, 1);
    ux.RunRound(kBase, "ca.pem");
    Track(ux, 1, 3);
    EXPECT_EQ(ux.Queued(), 1u);
    // The record left behind never sends the worker back to an endpoint that is gone.
    ux.RunRound(kBase, "ca.pem");
    EXPECT_TRUE(ux.Flush(std::chrono::seconds(20)));
    EXPECT_EQ(fake.requests.size(), 1u);
}

TEST(UxTelemetry, ExitFlushSendsTheLastRecordsWithinItsBound) {
    {
        // Off: nothing recorded, nothing asked, nothing waited for.
        FakeUx fake;
        sv::UxTelemetry ux(fake.Io());
        EXPECT_FALSE(ux.Start("https://api.test", "ca.pem", "1.1.6", "off", std::chrono::hours(1)));
        ux.TrackAction("exit");
        EXPECT_TRUE(ux.Flush(std::chrono::seconds(20)));
        EXPECT_TRUE(fake.requests.empty());
    }
    {
        // On, long before the first periodic exchange: the exit record goes out at once.
        FakeUx fake;
        fake.answers["/config"] = Answer(200, kEnabled);
        fake.answers["/events"] = Answer(200);
        sv::UxTelemetry ux(fake.Io());
        StartQuiet(ux);
        ux.TrackAction("exit");
        EXPECT_TRUE(ux.Flush(std::chrono::seconds(20)));
        EXPECT_EQ(fake.PostedSizes(), std::vector<size_t>{1});
        EXPECT_EQ(fake.requests.back().body["events"][0]["meta"]["action"], "exit");
        EXPECT_EQ(ux.Queued(), 0u);
    }
    {
        // An endpoint that does not answer: the flush gives up at its bound, the request
        // still out and given no longer than the bound itself.
        FakeUx fake;
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        fake.during = [released](const std::string&) { released.wait(); };
        sv::UxTelemetry ux(fake.Io());
        StartQuiet(ux);
        ux.TrackAction("exit");
        EXPECT_FALSE(ux.Flush(std::chrono::milliseconds(200)));
        {
            // Returned while the fake still holds it (it is released only below).
            std::unique_lock<std::mutex> lock(fake.mutex);
            ASSERT_TRUE(fake.changed.wait_for(lock, std::chrono::seconds(20), [&] { return !fake.requests.empty(); }));
            EXPECT_EQ(fake.requests[0].timeoutMs, 200u);
        }
        release.set_value();
        ux.StopWorker(std::chrono::seconds(20));
    }
}

TEST(UxTelemetry, RecordsTrimmedWhileABatchIsOutAreNeitherLostNorSentTwice) {
    FakeUx fake;
    fake.answers["/config"] = Answer(200, kEnabled);
    fake.answers["/events"] = Answer(200);
    sv::UxTelemetry ux(fake.Io());
    StartQuiet(ux);
    Track(ux, 0, 200);
    bool once = true;
    // While the first batch is out, a burst pushes its records out of the full queue.
    fake.during = [&](const std::string& method) {
        if (once && method == "POST") Track(ux, 200, 1000);
        once = once && method != "POST";
    };
    ux.RunRound(kBase, "ca.pem");
    std::vector<std::string> sent;
    for (const FakeUx::Request& r : fake.requests) {
        if (r.method != "POST") continue;
        for (const nlohmann::json& e : r.body["events"]) sent.push_back(e["meta"]["action"]);
    }
    ASSERT_EQ(sent.size(), 1200u);
    for (int i = 0; i < 1200; ++i) ASSERT_EQ(sent[i], "a" + std::to_string(i));
    EXPECT_EQ(ux.Queued(), 0u);
}

TEST(UxTelemetry, WorkerRunsExchangesUntilStopped) {
    FakeUx fake;
    fake.answers["/config"] = Answer(200, kEnabled);
    fake.answers["/events"] = Answer(200);
    sv::UxTelemetry ux(fake.Io());
    ASSERT_TRUE(ux.Start("https://api.test//", "ca.pem", "1.1.6", "https://elsewhere.test", std::chrono::milliseconds(5)));
    ux.TrackAction("show_window");
    {
        std::unique_lock<std::mutex> lock(fake.mutex);
        ASSERT_TRUE(fake.changed.wait_for(lock, std::chrono::seconds(20), [&] { return fake.requests.size() >= 2; }));
        EXPECT_EQ(fake.requests[1].url, "https://api.test/api/ux/events");
    }
    ux.StopWorker(std::chrono::seconds(20));
}
