#include "session/screen/stream_settings.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace {

TEST(StreamSettings, OnlyWhatAStreamControlValidlyAsksForChanges) {
    struct Case {
        const char* msg;
        bool qualitySet;
        int32_t fps, maxWidth, quality;
    };
    // Applied one after another to the same settings.
    const Case cases[] = {
        {R"({})", false, 10, 1280, 60},
        {R"({"fps":20})", false, 20, 1280, 60},
        {R"({"quality":90,"maxWidth":400})", true, 20, 400, 90},
        {R"({"fps":0,"quality":101,"maxWidth":100})", false, 20, 400, 90},  // out of range
        {R"({"fps":2.5,"quality":"50"})", false, 20, 400, 90},              // wrong kinds
        {R"({"maxWidth":5000})", false, 20, 5000, 90},
    };
    sv::StreamSettings settings;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.msg);
        EXPECT_EQ(settings.Apply(sv::ReadStreamControl(nlohmann::json::parse(c.msg))), c.qualitySet);
        EXPECT_EQ(settings.Fps(), c.fps);
        EXPECT_EQ(settings.MaxWidth(), c.maxWidth);
        EXPECT_EQ(settings.Quality(), c.quality);
    }
}

}  // namespace
