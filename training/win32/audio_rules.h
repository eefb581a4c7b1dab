#pragma once
// The fixed texts and numbers of sound playback: MCI command strings, clip file names,
// volume levels, clip durations, the two audio keys of the settings file and the
// language of a voice token. No I/O, so every rule is checked without a sound device.
#include <cstdint>
#include <optional>
#include <string>

namespace sv {
namespace training {

// Clip files live only while they play, in this folder of the temporary directory.
constexpr const char* kClipFolder = "sorvane-training";

// "clip-<pid>-<n>.<ext>"; an empty extension leaves the name ending in ".".
std::string ClipFileName(uint32_t processId, uint32_t number, const std::string& extension);

// "svclip<n>"
std::wstring MciAlias(uint32_t number);
// open "<path>" type mpegvideo alias <alias>  (withType), else  open "<path>" alias <alias>
std::wstring MciOpenCommand(const std::wstring& path, const std::wstring& alias, bool withType);
std::wstring MciTimeFormatCommand(const std::wstring& alias);
std::wstring MciLengthCommand(const std::wstring& alias);
std::wstring MciVolumeCommand(const std::wstring& alias, int32_t level);
std::wstring MciPlayCommand(const std::wstring& alias);
std::wstring MciModeCommand(const std::wstring& alias);
std::wstring MciStopCommand(const std::wstring& alias);
std::wstring MciCloseCommand(const std::wstring& alias);

// An MCI reply read as a decimal count; 0 when it is not one. Saturated at INT32_MAX.
int32_t ParseMciCount(const std::wstring& reply);
// Whether a "status ... mode" reply means the clip is still going.
bool MciStillPlaying(const std::wstring& modeReply);

// 0 when muted, else the volume limited to 0..1 scaled to `scale` (halves away from zero).
int32_t VolumeLevel(double volume, bool muted, int32_t scale);
inline int32_t MciVolumeLevel(double volume, bool muted) { return VolumeLevel(volume, muted, 1000); }
inline int32_t SapiVolumeLevel(double volume, bool muted) { return VolumeLevel(volume, muted, 100); }

// How long a clip played: the elapsed time, or the clip's own length when MCI gave one
// that fits within it (polling overshoots the real end by up to one poll).
int32_t ClipDurationMs(int64_t elapsedMs, int32_t lengthMs);

// The two audio keys of the settings file. Reading changes only what is present with
// the right type: "TrainingVolume" (a number, limited to 0..1) first; a volume of any
// other type ends the reading before "TrainingMuted" (a boolean).
void ReadAudioSettings(const std::string& text, double& volume, bool& muted);
// The whole settings text with both keys set and every other key kept; none when an
// existing text is not a JSON object (that file is not ours to overwrite).
std::optional<std::string> AudioSettingsText(const std::string& existing, bool exists, double volume, bool muted);

// The LCID in a voice token's "Language" attribute: hexadecimal, the first of a
// ";"-separated list. None when it is not a number.
std::optional<uint32_t> ParseVoiceLanguage(const std::wstring& attribute);

}  // namespace training
}  // namespace sv
