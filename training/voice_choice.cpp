#include "training/voice_choice.h"

#include "base/case_fold.h"
#include "training/training_args.h"

namespace sv {
namespace training {

namespace {

std::string LanguageOf(const std::string& culture) { return culture.substr(0, culture.find('-')); }

}  // namespace

std::string DescribeInstalledVoices(const std::vector<VoiceInfo>& voices, const std::string& culture,
                                    const std::vector<VoiceInfo>& sameLanguage) {
    if (sameLanguage.empty()) {
        std::string list;
        for (const VoiceInfo& v : voices) {
            if (!list.empty()) list += ", ";
            list += v.name + " [" + v.culture + "]";
        }
        if (list.empty()) list = "none";
        return "No " + culture + " voice is installed on this PC (it has: " + list + "). Send pre-rendered " +
               culture + " speech with play_audio instead (the text is already in the chat).";
    }
    std::string names;
    for (const VoiceInfo& v : sameLanguage) {
        if (!names.empty()) names += ", ";
        names += v.name;
    }
    return culture + " voices installed: " + names + ".";
}

VoiceChoice ChooseVoice(const std::vector<VoiceInfo>& voices, const std::string& name, const std::string& culture) {
    std::string wanted = TrimWhitespace(culture);
    if (wanted.empty()) wanted = "id-ID";
    const std::string language = LanguageOf(wanted);

    std::vector<VoiceInfo> sameLanguage;
    for (const VoiceInfo& v : voices) {
        if (LanguageOf(v.culture) == language) sameLanguage.push_back(v);
    }
    auto describe = [&] { return DescribeInstalledVoices(voices, wanted, sameLanguage); };

    VoiceChoice choice;
    const std::string wantedName = TrimWhitespace(name);
    if (wantedName.empty()) {
        const std::string folded = AsciiLower(wanted);
        for (const VoiceInfo& v : sameLanguage) {
            if (AsciiLower(v.culture) == folded) {
                choice.voice = v;
                choice.found = true;
                return choice;
            }
        }
        if (!sameLanguage.empty()) {
            choice.voice = sameLanguage.front();
            choice.found = true;
            return choice;
        }
        choice.error = describe();
        return choice;
    }

    const std::string foldedName = AsciiLower(wantedName);
    std::vector<VoiceInfo> named;
    for (const VoiceInfo& v : voices) {
        if (AsciiLower(v.name).find(foldedName) != std::string::npos) named.push_back(v);
    }
    if (named.empty()) {
        choice.error = "no voice named '" + wantedName + "' is installed. " + describe();
        return choice;
    }
    for (const VoiceInfo& v : named) {
        if (LanguageOf(v.culture) == language) {
            choice.voice = v;
            choice.found = true;
            return choice;
        }
    }
    choice.error = "'" + named.front().name + "' speaks " + named.front().culture + ", not " + wanted +
                   " — a session never speaks in another language. " + describe();
    return choice;
}

}  // namespace training
}  // namespace sv
