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

    EXPECT_EQ(RunDetachedQuery<std::string>([] { return std::string("tree"); }, 10000, "late", "busy", count, begin,
                                            end),
              "tree");
    EXPECT_EQ(RunDetachedQuery<std::string>([]() -> std::string { throw std::out_of_range("stoll"); }, 10000, "late",
                                            "busy", count, begin, end),
              "late");
    ASSERT_TRUE(count->WaitIdle(std::chrono::seconds(10)));
    EXPECT_EQ(begun.load(), 2);
    EXPECT_EQ(ended.load(), 2);
}

TEST(DetachedQuery, HungQueriesAreLeftBehindUpToACapThenRefused) {
    auto count = std::make_shared<QueryThreadCount>(2);
    auto release = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = release->get_future().share();
    std::atomic<int> started{0};
    // The target never answers within the wait.
    auto hung = [&] {
        return RunDetachedQuery<std::string>(
            [released, &started] {
                started.fetch_add(1);
                released.wait();
                return std::string("too late");
            },
            0, "did not answer", "still waiting on earlier queries", count, nullptr, nullptr);
    };
    EXPECT_EQ(hung(), "did not answer");
    EXPECT_EQ(hung(), "did not answer");
    EXPECT_EQ(count->Stranded(), 2);
    EXPECT_EQ(hung(), "still waiting on earlier queries") << "a third thread is never started";
    EXPECT_EQ(count->Running(), 2);
    release->set_value();
    ASSERT_TRUE(count->WaitIdle(std::chrono::seconds(10)));
    EXPECT_EQ(started.load(), 2);
    EXPECT_EQ(count->Stranded(), 0);
    EXPECT_EQ(RunDetachedQuery<std::string>([] { return std::string("tree"); }, 10000, "late", "busy", count, nullptr,
                                            nullptr),
              "tree")
        << "once they have finished, queries run again";
}

}  // namespace
