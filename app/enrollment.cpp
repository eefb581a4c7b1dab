#include "app/enrollment.h"

#include <limits>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/json_text.h"
#include "base/utf8_text.h"

namespace sv {
namespace {

bool ReadDeviceId(const nlohmann::json& value, int32_t& out) {
    if (value.is_number_unsigned()) {
        uint64_t v = value.get<uint64_t>();
        if (v > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return false;
        out = static_cast<int32_t>(v);
        return true;
    }
    if (value.is_number_integer()) {
        int64_t v = value.get<int64_t>();
        if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return false;
        out = static_cast<int32_t>(v);
        return true;
    }
    return false;
}

// Both keys present and of the right kinds.
bool ReadIdentity(const nlohmann::json& j, int32_t& id, std::string& secret) {
    const auto idIt = j.find("deviceId");
    const auto secretIt = j.find("deviceSecret");
    if (idIt == j.end() || secretIt == j.end() || !secretIt->is_string()) return false;
    int32_t parsedId = 0;
    // 0 means "not enrolled" everywhere else, and no server hands out negative ids.
    if (!ReadDeviceId(*idIt, parsedId) || parsedId <= 0) return false;
    id = parsedId;
    secret = secretIt->get<std::string>();
    return true;
}

// The code point of the well-formed sequence of `n` bytes at `i`.
uint32_t CodePointAt(const std::string& text, size_t i, size_t n) {
    uint32_t cp = static_cast<uint8_t>(text[i]) & (n == 1 ? 0x7Fu : 0x7Fu >> n);
    for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3Fu);
    return cp;
}

// A line end in the reason would split an audit line in two; an escape sequence would
// drive the console; a direction override would reorder the card's words around it.
uint32_t SafeCodePoint(uint32_t cp) {
    const bool lineBreak = cp == '\t' || cp == '\n' || cp == '\v' || cp == '\f' || cp == '\r' || cp == 0x85 ||
                           cp == 0x2028 || cp == 0x2029;
    if (lineBreak) return ' ';
    const bool control = cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
    const bool direction =
        cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
    return control || direction ? 0xFFFD : cp;
}

}  // namespace

std::string ShownServerReason(const std::string& text) {
    const std::string replacement = "\xEF\xBF\xBD";  // U+FFFD
    // Each code point as the UTF-8 it is shown as; a byte that starts no well-formed
    // sequence stands alone for U+FFFD.
    std::vector<std::string> points;
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8SequenceLength(text, i);
        if (n == 0) {
            points.push_back(replacement);
            ++i;
            continue;
        }
        const uint32_t cp = CodePointAt(text, i, n);
        const uint32_t safe = SafeCodePoint(cp);
        points.push_back(safe == cp ? text.substr(i, n) : safe == ' ' ? " " : replacement);
        i += n;
    }
    size_t begin = 0;
    size_t end = points.size();
    while (begin < end && points[begin] == " ") ++begin;
    while (end > begin && points[end - 1] == " ") --end;
    const bool cut = end - begin > kShownReasonLimit;
    if (cut) end = begin + kShownReasonLimit - 1;
    std::string out;
    for (size_t k = begin; k < end; ++k) out += points[k];
    if (cut) out += "\xE2\x80\xA6";  // U+2026
    return out;
}

std::string BuildEnrollRequest(const std::string& token, const std::string& name) {
    nlohmann::json body = nlohmann::json::object();
    body["enrollToken"] = token;
    body["name"] = name;
    body["os"] = "win";
    // Words come from the wide command line and are valid UTF-8; should one not be,
    // the request still goes out with the bad bytes replaced.
    return SerializeJson(body);
}

EnrollAnswer ReadEnrollAnswer(const std::string& body) {
    EnrollAnswer answer;
    if (body.empty()) return answer;
    nlohmann::json j = nlohmann::json::parse(body, nullptr, false);
    if (j.is_discarded()) {
        answer.outcome = EnrollAnswer::Outcome::BadResponse;
        return answer;
    }
    if (!j.is_object() || !j.contains("deviceId") || !j.contains("deviceSecret")) {
        answer.outcome = EnrollAnswer::Outcome::Refused;
        const auto error = j.is_object() ? j.find("error") : j.end();
        answer.errorGiven = j.is_object() && error != j.end() && error->is_string();
        answer.error = answer.errorGiven ? ShownServerReason(error->get<std::string>()) : "bad response";
        return answer;
    }
    if (!ReadIdentity(j, answer.deviceId, answer.deviceSecret)) {
        answer.outcome = EnrollAnswer::Outcome::BadResponse;
        return answer;
    }
    answer.outcome = EnrollAnswer::Outcome::Enrolled;
    return answer;
}

std::string BuildDeviceRecord(int32_t deviceId, const std::string& deviceSecret, const std::string& apiBase) {
    nlohmann::json record = nlohmann::json::object();
    record["apiBase"] = apiBase;
    record["deviceId"] = deviceId;
    record["deviceSecret"] = deviceSecret;
    return record.dump();
}

bool ReadDeviceRecord(const std::string& text, int32_t& deviceId, std::string& deviceSecret) {
    nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return false;
    return ReadIdentity(j, deviceId, deviceSecret);
}

}  // namespace sv
