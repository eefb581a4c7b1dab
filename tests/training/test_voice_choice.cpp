#include <gtest/gtest.h>

#include "training/voice_choice.h"

namespace {

using namespace sv::training;

const VoiceInfo kA{"Microsoft Zira", "en-US", "sapi"};
const VoiceInfo kB{"Microsoft Andika", "id-ID", "sapi"};
const VoiceInfo kC{"Eko", "id-XX", "sapi"};
const std::string kNoIdVoice =
    "No id-ID voice is installed on this PC (it has: Microsoft Zira [en-US]). Send pre-rendered id-ID speech with "
    "play_audio instead (the text is already in the chat).";

TEST(VoiceChoice, OnlyVoicesOfTheSessionLanguageAndSentencesThatSayWhatToDo) {
    struct Case {
        std::vector<VoiceInfo> voices;
        std::string name, culture;
        std::string want;  // the chosen voice's name, or the error
    } cases[] = {
        {{kA, kC, kB}, "", "id-id", "Microsoft Andika"},  // exact culture, case ignored, beats the first
        {{kA, kC}, "", "id-ID", "Eko"},
        {{kA, kB}, "", " \t", "Microsoft Andika"},        // blank culture means id-ID
        {{kA, kB}, "", "ID-ID",                            // languages compare exactly
         "No ID-ID voice is installed on this PC (it has: Microsoft Zira [en-US], Microsoft Andika [id-ID]). Send "
         "pre-rendered ID-ID speech with play_audio instead (the text is already in the chat)."},
        {{}, "", "id-ID",
         "No id-ID voice is installed on this PC (it has: none). Send pre-rendered id-ID speech with play_audio "
         "instead (the text is already in the chat)."},
        {{kA, kB, kC}, "MICROSOFT", "id-ID", "Microsoft Andika"},
        {{kA}, "zira", "id-ID",
         "'Microsoft Zira' speaks en-US, not id-ID — a session never speaks in another language. " + kNoIdVoice},
        {{kA, kB, kC}, "budi", "id-ID",
         "no voice named 'budi' is installed. id-ID voices installed: Microsoft Andika, Eko."},
    };
    for (const Case& c : cases) {
        VoiceChoice got = ChooseVoice(c.voices, c.name, c.culture);
        EXPECT_EQ(got.found ? got.voice.name : got.error, c.want) << c.name << "|" << c.culture;
    }
}

}  // namespace
