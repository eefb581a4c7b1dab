#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <string>

#include "training/win32/detached_query.h"

namespace {

using sv::training::QueryThreadCount;
using sv::training::RunDetachedQuery;

TEST(DetachedQuery, AnswersOrFallsBack) {
    auto count = std::make_shared<QueryThreadCount>();
    std::atomic<int> begun{0}, ended{0};
    auto begin = [&] {
        ++begun;
        return true;
    };
    auto end = [&] { ++ended; };

    EXPECT_EQ(RunDetachedQuery<std::string>([] { return std::string("tree"); }, 10000, "late", count, begin, end),
              "tree");
    EXPECT_EQ(RunDetachedQuery<std::string>([]() -> std::string { throw std::out_of_range("stoll"); }, 10000, "late",
                                            count, begin, end),
              "late");
    ASSERT_TRUE(count->WaitIdle(std::chrono::seconds(10)));
    EXPECT_EQ(begun.load(), 2);
    EXPECT_EQ(ended.load(), 2);
}

TEST(DetachedQuery, AHungQueryIsLeftBehindAndFinishesAlone) {
    auto count = std::make_shared<QueryThreadCount>();
    auto release = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = release->get_future().share();
    // The target never answers within the wait.
    std::string got = RunDetachedQuery<std::string>(
        [released] {
            released.wait();
            return std::string("too late");
        },
        0, "UI Automation did not answer in time", count, nullptr, nullptr);
    EXPECT_EQ(got, "UI Automation did not answer in time");
    EXPECT_EQ(count->Running(), 1);
    release->set_value();
    EXPECT_TRUE(count->WaitIdle(std::chrono::seconds(10)));
}

}  // namespace
