#include "training/training_args.h"

#include <cmath>
#include <limits>

#include "training/training_json.h"

namespace sv {
namespace training {

using nlohmann::json;

const json* FindArg(const json& args, const char* key) {
    if (!args.is_object()) return nullptr;
    auto it = args.find(key);
    // A null stands for "not given": it must not reach a reader as the text "null".
    if (it == args.end() || it->is_null()) return nullptr;
    return &*it;
}

std::optional<std::string> ArgString(const json& args, const char* key) {
    const json* v = FindArg(args, key);
    if (!v) return std::nullopt;
    if (v->is_string()) return v->get<std::string>();
    return SerializeJson(*v);
}

std::optional<double> ArgNumber(const json& args, const char* key) {
    const json* v = FindArg(args, key);
    if (!v || !v->is_number()) return std::nullopt;
    if (v->is_number_unsigned()) return static_cast<double>(v->get<uint64_t>());
    if (v->is_number_integer()) return static_cast<double>(v->get<int64_t>());
    return v->get<double>();
}

std::optional<int32_t> ArgInt(const json& args, const char* key) {
    const json* v = FindArg(args, key);
    if (!v || !v->is_number()) return std::nullopt;
    if (v->is_number_unsigned()) {
        uint64_t u = v->get<uint64_t>();
        return u > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) ? std::numeric_limits<int32_t>::max()
                                                                              : static_cast<int32_t>(u);
    }
    if (v->is_number_integer()) return SaturateToInt32(v->get<int64_t>());
    return RoundToInt32(v->get<double>());
}

std::optional<int64_t> ArgInt64(const json& args, const char* key) {
    const json* v = FindArg(args, key);
    if (!v || !v->is_number()) return std::nullopt;
    if (v->is_number_unsigned()) {
        uint64_t u = v->get<uint64_t>();
        return u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max()
                                                                              : static_cast<int64_t>(u);
    }
    if (v->is_number_integer()) return v->get<int64_t>();
    return TruncateToInt64(v->get<double>());
}

std::optional<bool> ArgBool(const json& args, const char* key) {
    const json* v = FindArg(args, key);
    if (!v || !v->is_boolean()) return std::nullopt;
    return v->get<bool>();
}

std::optional<std::vector<std::string>> ArgStringList(const json& args, const char* key) {
    const json* v = FindArg(args, key);
    if (!v || !v->is_array()) return std::nullopt;
    std::vector<std::string> out;
    for (const json& e : *v) {
        if (e.is_string()) out.push_back(e.get<std::string>());
    }
    return out;
}

int32_t RoundToInt32(double value) {
    if (std::isnan(value)) return 0;
    double r = std::round(value);  // halves away from zero
    if (r >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    if (r <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(r);
}

int64_t TruncateToInt64(double value) {
    if (std::isnan(value)) return 0;
    double t = std::trunc(value);
    // 2^63 is exactly representable; anything at or above it does not fit.
    if (t >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    if (t <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(t);
}

int32_t SaturateToInt32(int64_t value) {
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

namespace {
bool StartsCodePoint(unsigned char c) { return (c & 0xC0) != 0x80; }
}  // namespace

std::string CutToCodePoints(const std::string& text, size_t n) {
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (StartsCodePoint(static_cast<unsigned char>(text[i]))) {
            if (seen == n) return text.substr(0, i);
            ++seen;
        }
    }
    return text;
}

std::optional<std::string> CutToCodePoints(const std::optional<std::string>& text, size_t n) {
    if (!text) return std::nullopt;
    return CutToCodePoints(*text, n);
}

size_t CountCodePoints(const std::string& text) {
    size_t n = 0;
    for (char c : text) {
        if (StartsCodePoint(static_cast<unsigned char>(c))) ++n;
    }
    return n;
}

std::string TrimWhitespace(const std::string& text) {
    auto ws = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t b = 0;
    size_t e = text.size();
    while (b < e && ws(text[b])) ++b;
    while (e > b && ws(text[e - 1])) --e;
    return text.substr(b, e - b);
}

bool IsBlank(const std::optional<std::string>& text) { return !text || TrimWhitespace(*text).empty(); }

}  // namespace training
}  // namespace sv
