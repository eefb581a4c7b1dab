#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "training/training_event_log.h"
#include "training/training_json.h"

namespace {

using nlohmann::json;
using namespace sv::training;
using sv::SerializeJson;

struct LogFixture : ::testing::Test {
    std::atomic<int64_t> now{1000};
    TrainingEventLog log{[this] { return now.fetch_add(1); }};
};

TEST_F(LogFixture, NumbersFromOneAndStampsWithTheClock) {
    EXPECT_EQ(log.LastSeq(), 0);
    auto a = log.Append("chat", json{{"text", "x"}});
    auto b = log.Append("stopped", nullptr);
    EXPECT_EQ(a.seq, 1);
    EXPECT_EQ(b.seq, 2);
    EXPECT_EQ(a.ts, 1000);
    EXPECT_EQ(b.ts, 1001);
    EXPECT_EQ(log.LastSeq(), 2);
}

TEST_F(LogFixture, KeepsTheNewest500) {
    for (int i = 0; i < 501; ++i) log.Append("e", nullptr);
    auto all = log.Query(0, {}, 10000);
    ASSERT_EQ(all.size(), 500u);
    EXPECT_EQ(all.front().seq, 2);
    EXPECT_EQ(all.back().seq, 501);
    EXPECT_EQ(log.LastSeq(), 501);
}

TEST_F(LogFixture, QueryClampsMaxAndReturnsTheOldestMatches) {
    for (int i = 0; i < 20; ++i) log.Append(i % 3 == 0 ? "chat" : (i % 3 == 1 ? "stopped" : "mode"), nullptr);
    EXPECT_EQ(log.Query(0, {}, 0).size(), 1u);
    EXPECT_EQ(log.Query(0, {}, -5).size(), 1u);
    EXPECT_EQ(log.Query(0, {}, 0).front().seq, 1);
    auto page = log.Query(5, {}, 3);
    ASSERT_EQ(page.size(), 3u);
    EXPECT_EQ(page[0].seq, 6);
    EXPECT_EQ(page[2].seq, 8);
    auto kinds = log.Query(0, {"chat", "stopped"}, 500);
    ASSERT_EQ(kinds.size(), 14u);
    for (auto& r : kinds) EXPECT_NE(r.kind, "mode");
    for (size_t i = 1; i < kinds.size(); ++i) EXPECT_LT(kinds[i - 1].seq, kinds[i].seq);
    EXPECT_TRUE(log.Query(20, {}, 10).empty());
    EXPECT_TRUE(log.Query(1000, {}, 10).empty());
}

TEST_F(LogFixture, ConcurrentAppendsGetUniqueIncreasingNumbers) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this] {
            for (int i = 0; i < 100; ++i) log.Append("e", nullptr);
        });
    }
    for (auto& t : threads) t.join();
    auto all = log.Query(0, {}, 500);
    ASSERT_EQ(all.size(), 400u);
    for (size_t i = 1; i < all.size(); ++i) {
        EXPECT_EQ(all[i].seq, all[i - 1].seq + 1);
        EXPECT_LE(all[i - 1].ts, all[i].ts);
    }
}

TEST(TrainingEventMessage, ExactBytes) {
    TrainingEventRecord r;
    r.seq = 7;
    r.ts = 1700000000123;
    r.kind = "ai-resumed";
    r.data = json{{"quietMs", 2500}};
    EXPECT_EQ(SerializeJson(MakeTrainingEvent(r)),
              R"({"data":{"quietMs":2500},"kind":"ai-resumed","seq":7,"ts":1700000000123,"type":"training-event"})");
    r.data = nullptr;
    EXPECT_EQ(SerializeJson(MakeTrainingEvent(r)),
              R"({"kind":"ai-resumed","seq":7,"ts":1700000000123,"type":"training-event"})");
    EXPECT_EQ(SerializeJson(EventRecordJson(r)), R"({"kind":"ai-resumed","seq":7,"ts":1700000000123})");
}

}  // namespace
