#include "app/updater.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <stdexcept>

namespace {

TEST(UpdateCheck, RequestAndDownloadUrls) {
    EXPECT_EQ(sv::UpdateCheckUrl("https://u.example", "sorvane-host-win7", "1.1.6", "win"),
              "https://u.example/api/update/check?product=sorvane-host-win7&version=1.1.6&os=win");
    EXPECT_EQ(sv::UpdateDownloadUrl("https://u.example", "https://cdn.example/p.zip"), "https://cdn.example/p.zip");
    EXPECT_EQ(sv::UpdateDownloadUrl("https://u.example", "/files/p.zip"), "https://u.example/files/p.zip");
    EXPECT_EQ(sv::UpdateDownloadUrl("https://u.example", "http://plain.example/p.zip"),
              "https://u.examplehttp://plain.example/p.zip");
    EXPECT_EQ(sv::UpdateDownloadUrl("https://u.example", "HTTPS://cdn.example/p.zip"),
              "https://u.exampleHTTPS://cdn.example/p.zip");
}

TEST(UpdateCheck, AnswersAreReadWithTheirDefaults) {
    struct Case {
        const char* body;
        bool read;
        bool hasUpdate;
        const char* version;
        const char* url;
    };
    const Case cases[] = {
        {R"({"hasUpdate":true,"version":"1.2.0","checksum":"ab","downloadUrl":"/p.zip","mandatory":true,"changelog":"c"})",
         true, true, "1.2.0", "/p.zip"},
        {R"({"hasUpdate":true})", true, true, "", ""},
        {R"({"hasUpdate":false,"version":"9"})", true, false, "", ""},
        {R"({})", true, false, "", ""},
        {R"({"hasUpdate":"true"})", false, false, "", ""},
        {R"({"hasUpdate":true,"version":5})", false, false, "", ""},
        {R"([true])", false, false, "", ""},
        {"not json", false, false, "", ""},
        {"", false, false, "", ""},
    };
    for (const Case& c : cases) {
        sv::UpdateInfo info;
        EXPECT_EQ(sv::ParseUpdateCheckAnswer(c.body, info), c.read) << c.body;
        EXPECT_EQ(info.hasUpdate, c.hasUpdate) << c.body;
        EXPECT_EQ(info.version, c.version) << c.body;
        EXPECT_EQ(info.downloadUrl, c.url) << c.body;
    }
}

TEST(UpdateThread, RoundsRunUntilOneStagesAnUpdate) {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::promise<void> applied;
    int rounds = 0;
    sv::UpdateConfig config;
    config.log = [&](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    };
    config.beforeApply = [&] { applied.set_value(); };
    // A throwing round is logged and counts as nothing staged; the third stages.
    auto round = [&](const sv::UpdateConfig&) -> int {
        std::lock_guard<std::mutex> lock(mutex);
        ++rounds;
        if (rounds == 1) throw std::runtime_error("boom");
        return rounds == 3 ? 1 : 0;
    };
    sv::UpdateThread thread(config, round, std::chrono::milliseconds(0));
    applied.get_future().wait();
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(rounds, 3);
    EXPECT_EQ(lines, std::vector<std::string>{"[update] check threw"});
}

TEST(UpdateThread, DestroyingItEndsTheWaitBetweenRounds) {
    std::promise<void> ran;
    sv::UpdateConfig config;
    config.log = [](const std::string&) {};
    bool applied = false;
    config.beforeApply = [&] { applied = true; };
    {
        sv::UpdateThread thread(config, [&](const sv::UpdateConfig&) {
            ran.set_value();
            return 0;
        }, sv::kUpdatePeriod);
        ran.get_future().wait();
        EXPECT_FALSE(thread.Finished());
    }
    // Reaching here means the six-hour wait was cut short; nothing was applied.
    EXPECT_FALSE(applied);
}

// The exit lets a hanging round go: the owner waits for nothing, and the round still
// ends alone once its request does.
TEST(UpdateThread, LetGoDoesNotWaitForARoundInProgress) {
    struct Shared {
        std::promise<void> started, release, ended;
    };
    auto shared = std::make_shared<Shared>();
    sv::UpdateConfig config;
    config.log = [](const std::string&) {};
    auto thread = std::make_unique<sv::UpdateThread>(config, [shared](const sv::UpdateConfig&) {
        shared->started.set_value();
        shared->release.get_future().wait();  // an update API that does not answer
        shared->ended.set_value();
        return 0;
    }, sv::kUpdatePeriod);
    shared->started.get_future().wait();
    const auto asked = std::chrono::steady_clock::now();
    thread->LetGo();
    thread.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, sv::kUpdateStopWait / 2);
    std::future<void> ended = shared->ended.get_future();
    EXPECT_EQ(ended.wait_for(std::chrono::seconds(0)), std::future_status::timeout);  // still in its round
    shared->release.set_value();
    ended.wait();
}

}  // namespace
