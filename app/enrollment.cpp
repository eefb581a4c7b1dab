#include "app/enrollment.h"

#include <limits>

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

}  // namespace

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
        answer.error = answer.errorGiven ? error->get<std::string>() : "bad response";
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
