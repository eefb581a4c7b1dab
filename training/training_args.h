#pragma once
// How every training operation reads its "args" and caps its texts.
// A missing key, a non-object args or a value of another type reads as absent.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sv {
namespace training {

// The value under key when args is an object and holds it; null otherwise.
const nlohmann::json* FindArg(const nlohmann::json& args, const char* key);

// A string as it stands; any other present value as its compact JSON text.
std::optional<std::string> ArgString(const nlohmann::json& args, const char* key);

// A number rounded to nearest, halves away from zero; saturated to the 32-bit range.
std::optional<int32_t> ArgInt(const nlohmann::json& args, const char* key);

// A number truncated toward zero; saturated to the 64-bit range.
std::optional<int64_t> ArgInt64(const nlohmann::json& args, const char* key);

// A number as a double (integer, unsigned or float).
std::optional<double> ArgNumber(const nlohmann::json& args, const char* key);

// A boolean; any other type reads as absent.
std::optional<bool> ArgBool(const nlohmann::json& args, const char* key);

// The string elements of an array, in order; absent when the value is not an array.
std::optional<std::vector<std::string>> ArgStringList(const nlohmann::json& args, const char* key);

// Number conversions that never overflow: a cast of an out-of-range double is undefined.
int32_t RoundToInt32(double value);
int64_t TruncateToInt64(double value);
int32_t SaturateToInt32(int64_t value);

// Text functions; lengths in Unicode code points of UTF-8 text, where a code point starts
// at every byte whose top two bits are not 10.
std::optional<std::string> CutToCodePoints(const std::optional<std::string>& text, size_t n);
std::string CutToCodePoints(const std::string& text, size_t n);
size_t CountCodePoints(const std::string& text);
// Removes space, tab, CR and LF (only these four) from both ends.
std::string TrimWhitespace(const std::string& text);
bool IsBlank(const std::optional<std::string>& text);

}  // namespace training
}  // namespace sv
