#pragma once
// Which installed voice speaks for a session: only one of the session's own language, and
// when none fits, a sentence that tells the trainer what to do instead.
#include <string>
#include <vector>

#include "training/training_records.h"

namespace sv {
namespace training {

struct VoiceChoice {
    VoiceInfo voice;
    bool found = false;
    std::string error;  // empty when found
};

// culture defaults to "id-ID" when blank; its language (the part before the first "-") must
// match exactly. Without a name an exact culture match (ASCII case ignored) beats the first
// voice of the language; a name is matched as a substring, ASCII case ignored.
VoiceChoice ChooseVoice(const std::vector<VoiceInfo>& voices, const std::string& name, const std::string& culture);

// What the trainer reads when no voice fits: either the voices of the language, or the
// whole installed list with the advice to send pre-rendered audio.
std::string DescribeInstalledVoices(const std::vector<VoiceInfo>& voices, const std::string& culture,
                                    const std::vector<VoiceInfo>& sameLanguage);

}  // namespace training
}  // namespace sv
