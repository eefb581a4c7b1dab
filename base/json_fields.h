#pragma once
// Reading members of a JSON object that a peer or a file wrote. Each reader gives a
// value only when the member is there and of the asked kind; an absent member, a null
// and a member of another kind all read as nothing, and the caller decides what that
// means (a default, a refusal, a dropped message). No reader throws.
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace sv {

// The member itself, or null when `object` is not an object or lacks the key.
const nlohmann::json* JsonMember(const nlohmann::json& object, const char* key);

// True when the member is there, not null, and of a kind other than `kindOk` accepts:
// for callers that refuse a whole record on one member of the wrong kind.
bool JsonMemberHasOtherKind(const nlohmann::json& object, const char* key, bool (*kindOk)(const nlohmann::json&));

std::optional<std::string> JsonString(const nlohmann::json& object, const char* key);
// For messages where an absent string and an empty one mean the same.
std::string JsonStringOrEmpty(const nlohmann::json& object, const char* key);
std::optional<bool> JsonBool(const nlohmann::json& object, const char* key);
// Integers only (a float is another kind); values beyond int64 saturate.
std::optional<int64_t> JsonInt64(const nlohmann::json& object, const char* key);
// Any number.
std::optional<double> JsonDouble(const nlohmann::json& object, const char* key);

}  // namespace sv
