#include <gtest/gtest.h>

#include "training/playback_request.h"

namespace {

using nlohmann::json;
using namespace sv::training;

TEST(PlaybackRequest, AudioArguments) {
    const char* kExt = "audio ext must be mp3, wav, m4a or wma";
    struct Case {
        json args;
        std::string error, ext;
    } cases[] = {
        {json{{"data", "aG\nk"}}, "", "mp3"},
        {json{{"data", "aGk="}, {"ext", "..MP3"}}, "", "mp3"},
        {json{{"data", "aGk="}, {"ext", "ogg"}}, kExt, ""},
        {json{{"data", "aGk="}, {"ext", "..."}}, kExt, ""},
        {json{{"ext", "wma"}}, "audio data is empty", "wma"},
        {json{{"data", "aG*k"}}, "audio data must be base64", "mp3"},
        {json{{"data", " \n"}}, "audio data must be base64", "mp3"},
    };
    for (const Case& c : cases) {
        AudioRequest r = ParseAudioRequest(c.args);
        EXPECT_EQ(r.error, c.error) << c.args.dump();
        EXPECT_EQ(r.ext, c.ext) << c.args.dump();
    }
    // The size limit is inclusive; its message counts whole kilobytes.
    std::string fits((kMaxClipBytes / 3) * 4, 'A');
    fits += "AAA";                                        // 8388606 + 2 bytes
    std::string over((kMaxClipBytes / 3 + 1) * 4, 'A');  // 8388609 bytes
    EXPECT_EQ(ParseAudioRequest(json{{"data", fits}}).bytes->size(), kMaxClipBytes);
    EXPECT_EQ(ParseAudioRequest(json{{"data", over}}).error, "audio clip is 8192 KB; the limit is 8 MB");
}

TEST(PlaybackRequest, SayTextIsCutAndTheTimeOutGrowsWithIt) {
    std::string text;
    for (int i = 0; i < 1600; ++i) text += "\xC3\xA9";
    SayRequest r = ParseSayRequest(json{{"text", text}, {"wait", "no"}, {"chat", 0}}, "id-ID");
    EXPECT_EQ(r.text, text.substr(0, 3000));
    EXPECT_TRUE(r.wait);
    EXPECT_TRUE(r.chat);
    EXPECT_EQ(SpeechTimeoutMs(r.text), 330000u);
    EXPECT_EQ(SpeechTimeoutMs(""), kSpeechBaseTimeoutMs);
}

}  // namespace
