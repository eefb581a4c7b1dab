#include "base/json_fields.h"

#include <limits>

namespace sv {

const nlohmann::json* JsonMember(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    if (it == object.end()) return nullptr;
    return &*it;
}

bool JsonMemberHasOtherKind(const nlohmann::json& object, const char* key, bool (*kindOk)(const nlohmann::json&)) {
    const nlohmann::json* v = JsonMember(object, key);
    return v != nullptr && !v->is_null() && !kindOk(*v);
}

std::optional<std::string> JsonString(const nlohmann::json& object, const char* key) {
    const nlohmann::json* v = JsonMember(object, key);
    if (v == nullptr || !v->is_string()) return std::nullopt;
    return v->get<std::string>();
}

std::string JsonStringOrEmpty(const nlohmann::json& object, const char* key) {
    return JsonString(object, key).value_or(std::string());
}

std::optional<bool> JsonBool(const nlohmann::json& object, const char* key) {
    const nlohmann::json* v = JsonMember(object, key);
    if (v == nullptr || !v->is_boolean()) return std::nullopt;
    return v->get<bool>();
}

std::optional<int64_t> JsonInt64(const nlohmann::json& object, const char* key) {
    const nlohmann::json* v = JsonMember(object, key);
    if (v == nullptr || !v->is_number_integer()) return std::nullopt;
    if (v->is_number_unsigned()) {
        const uint64_t u = v->get<uint64_t>();
        const uint64_t top = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
        return u > top ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(u);
    }
    return v->get<int64_t>();
}

std::optional<double> JsonDouble(const nlohmann::json& object, const char* key) {
    const nlohmann::json* v = JsonMember(object, key);
    if (v == nullptr || !v->is_number()) return std::nullopt;
    if (v->is_number_unsigned()) return static_cast<double>(v->get<uint64_t>());
    if (v->is_number_integer()) return static_cast<double>(v->get<int64_t>());
    return v->get<double>();
}

}  // namespace sv
