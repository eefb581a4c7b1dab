#include <gtest/gtest.h>

#include "training/playback_request.h"

namespace {

using nlohmann::json;
using namespace sv::training;

TEST(PlaybackRequest, SayArguments) {
    EXPECT_EQ(ParseSayRequest(json::object(), "id-ID").error, "say needs text");
    EXPECT_EQ(ParseSayRequest(json{{"text", " \r\n\t"}}, "id-ID").error, "say needs text");

    SayRequest plain = ParseSayRequest(json{{"text", "Halo"}}, "id-ID");
    EXPECT_EQ(plain.error, "");
    EXPECT_TRUE(plain.chat);
    EXPECT_TRUE(plain.wait);
    EXPECT_FALSE(plain.voiceArg);
    EXPECT_EQ(plain.voice, "");
    EXPECT_EQ(plain.culture, "id-ID");

    std::string long_;
    for (int i = 0; i < 1600; ++i) long_ += "\xC3\xA9";  // é
    SayRequest r = ParseSayRequest(
        json{{"text", long_}, {"chat", false}, {"wait", "no"}, {"voice", "Andika"}, {"culture", "jv-ID"}}, "id-ID");
    EXPECT_EQ(r.text, long_.substr(0, 3000));
    EXPECT_FALSE(r.chat);
    EXPECT_TRUE(r.wait);  // not a boolean
    EXPECT_EQ(r.voice, "Andika");
    EXPECT_EQ(r.culture, "jv-ID");
    EXPECT_TRUE(ParseSayRequest(json{{"text", "x"}, {"chat", 0}}, "").chat);
}

TEST(PlaybackRequest, AudioArguments) {
    struct Case {
        json args;
        std::string error;
        std::string ext;
        size_t bytes;
    } cases[] = {
        {json{{"data", "aGk="}}, "", "mp3", 2},
        {json{{"data", "aGk="}, {"ext", "..MP3"}}, "", "mp3", 2},
        {json{{"data", "aGk="}, {"ext", ".Wav"}}, "", "wav", 2},
        {json{{"data", "aG\nk"}, {"ext", "m4a"}}, "", "m4a", 2},
        {json{{"data", "aGk="}, {"ext", "ogg"}}, "audio ext must be mp3, wav, m4a or wma", "", 0},
        {json{{"data", "aGk="}, {"ext", "..."}}, "audio ext must be mp3, wav, m4a or wma", "", 0},
        {json{{"data", "aGk="}, {"ext", 3}}, "audio ext must be mp3, wav, m4a or wma", "", 0},
        {json{{"ext", "wma"}}, "audio data is empty", "", 0},
        {json{{"data", ""}}, "audio data is empty", "", 0},
        {json{{"data", "aG*k"}}, "audio data must be base64", "", 0},
        {json{{"data", " \n"}}, "audio data must be base64", "", 0},
    };
    for (const Case& c : cases) {
        AudioRequest r = ParseAudioRequest(c.args);
        EXPECT_EQ(r.error, c.error) << c.args.dump();
        if (c.error.empty()) {
            EXPECT_EQ(r.ext, c.ext);
            ASSERT_TRUE(r.bytes);
            EXPECT_EQ(r.bytes->size(), c.bytes);
        }
    }
    // The size limit is inclusive; its message counts whole kilobytes.
    std::string fits((kMaxClipBytes / 3) * 4, 'A');
    fits += "AAA";  // 8388606 + 2 bytes
    std::string over((kMaxClipBytes / 3 + 1) * 4, 'A');  // 8388609 bytes
    EXPECT_EQ(ParseAudioRequest(json{{"data", over}}).error, "audio clip is 8192 KB; the limit is 8 MB");
    AudioRequest atLimit = ParseAudioRequest(json{{"data", fits}, {"caption", ""}, {"wait", false}});
    EXPECT_EQ(atLimit.error, "");
    EXPECT_EQ(atLimit.bytes->size(), kMaxClipBytes);
    EXPECT_EQ(atLimit.caption, std::optional<std::string>(""));
    EXPECT_FALSE(atLimit.wait);
}

TEST(PlaybackRequest, SpeechTimeOutGrowsWithTheText) {
    EXPECT_EQ(SpeechTimeoutMs(""), kSpeechBaseTimeoutMs);
    EXPECT_EQ(SpeechTimeoutMs("\xC3\xA9\xC3\xA9x"), kSpeechBaseTimeoutMs + 3 * kSpeechPerCodePointMs);
    EXPECT_EQ(SpeechTimeoutMs(std::string(1500, 'a')), 330000u);
}

}  // namespace
