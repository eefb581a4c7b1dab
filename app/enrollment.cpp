#include "app/enrollment.h"

#include <limits>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/json_text.h"

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

// One code point from `text` at `i` (moved past it); invalid or overlong sequences,
// surrogates and values beyond U+10FFFF give U+FFFD for their first byte alone.
uint32_t NextCodePoint(const std::string& text, size_t& i) {
    const auto byte = [&](size_t at) { return static_cast<uint8_t>(text[at]); };
    const uint8_t lead = byte(i);
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    uint32_t cp = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
    if (length == 0 || i + length > text.size()) {
        ++i;
        return 0xFFFD;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += length;
    return cp;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
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
    std::vector<uint32_t> points;
    for (size_t i = 0; i < text.size();) points.push_back(SafeCodePoint(NextCodePoint(text, i)));
    size_t begin = 0;
    size_t end = points.size();
    while (begin < end && points[begin] == ' ') ++begin;
    while (end > begin && points[end - 1] == ' ') --end;
    const bool cut = end - begin > kShownReasonLimit;
    if (cut) end = begin + kShownReasonLimit - 1;
    std::string out;
    for (size_t k = begin; k < end; ++k) AppendUtf8(out, points[k]);
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
