#include "training/win32/audio_rules.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace sv {
namespace training {

std::string ClipFileName(uint32_t processId, uint32_t number, const std::string& extension) {
    return "clip-" + std::to_string(processId) + "-" + std::to_string(number) + "." + extension;
}

std::wstring MciAlias(uint32_t number) { return L"svclip" + std::to_wstring(number); }

std::wstring MciOpenCommand(const std::wstring& path, const std::wstring& alias, bool withType) {
    return L"open \"" + path + L"\" " + (withType ? L"type mpegvideo alias " : L"alias ") + alias;
}
std::wstring MciTimeFormatCommand(const std::wstring& alias) { return L"set " + alias + L" time format milliseconds"; }
std::wstring MciLengthCommand(const std::wstring& alias) { return L"status " + alias + L" length"; }
std::wstring MciVolumeCommand(const std::wstring& alias, int32_t level) {
    return L"setaudio " + alias + L" volume to " + std::to_wstring(level);
}
std::wstring MciPlayCommand(const std::wstring& alias) { return L"play " + alias; }
std::wstring MciModeCommand(const std::wstring& alias) { return L"status " + alias + L" mode"; }
std::wstring MciStopCommand(const std::wstring& alias) { return L"stop " + alias; }
std::wstring MciCloseCommand(const std::wstring& alias) { return L"close " + alias; }

int32_t ParseMciCount(const std::wstring& reply) {
    if (reply.empty()) return 0;
    int64_t value = 0;
    for (wchar_t c : reply) {
        if (c < L'0' || c > L'9') return 0;
        value = value * 10 + (c - L'0');
        if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(value);
}

bool MciStillPlaying(const std::wstring& modeReply) {
    return modeReply == L"playing" || modeReply == L"seeking" || modeReply == L"not ready";
}

int32_t VolumeLevel(double volume, bool muted, int32_t scale) {
    if (muted || !(volume > 0)) return 0;  // NaN counts as silent
    if (volume > 1) volume = 1;
    return static_cast<int32_t>(std::lround(volume * scale));
}

int32_t ClipDurationMs(int64_t elapsedMs, int32_t lengthMs) {
    if (lengthMs >= 1 && lengthMs <= elapsedMs) return lengthMs;
    if (elapsedMs < 0) return 0;
    if (elapsedMs > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(elapsedMs);
}

void ReadAudioSettings(const std::string& text, double& volume, bool& muted) {
    nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return;
    auto v = doc.find("TrainingVolume");
    if (v != doc.end()) {
        if (!v->is_number()) return;
        double value = v->get<double>();
        volume = value < 0 ? 0 : (value > 1 ? 1 : value);
    }
    auto m = doc.find("TrainingMuted");
    if (m != doc.end() && m->is_boolean()) muted = m->get<bool>();
}

std::optional<std::string> AudioSettingsText(const std::string& existing, bool exists, double volume, bool muted) {
    nlohmann::json doc = nlohmann::json::object();
    if (exists) {
        doc = nlohmann::json::parse(existing, nullptr, false);
        if (doc.is_discarded() || !doc.is_object()) return std::nullopt;
    }
    doc["TrainingVolume"] = volume;
    doc["TrainingMuted"] = muted;
    return doc.dump();
}

std::optional<uint32_t> ParseVoiceLanguage(const std::wstring& attribute) {
    size_t i = 0;
    while (i < attribute.size() && attribute[i] == L' ') ++i;
    uint64_t value = 0;
    size_t digits = 0;
    for (; i < attribute.size() && attribute[i] != L';'; ++i) {
        wchar_t c = attribute[i];
        int d = (c >= L'0' && c <= L'9') ? c - L'0'
                : (c >= L'a' && c <= L'f') ? c - L'a' + 10
                : (c >= L'A' && c <= L'F') ? c - L'A' + 10
                : -1;
        if (d < 0) {
            if (c == L' ') break;
            return std::nullopt;
        }
        value = value * 16 + static_cast<uint64_t>(d);
        if (value > 0xFFFFFFFFu) return std::nullopt;
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    return static_cast<uint32_t>(value);
}

}  // namespace training
}  // namespace sv
