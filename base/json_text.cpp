#include "base/json_text.h"

namespace sv {

namespace {

template <typename Json>
std::string Compact(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string SerializeJson(const nlohmann::json& value) { return Compact(value); }
std::string SerializeJson(const nlohmann::ordered_json& value) { return Compact(value); }

}  // namespace sv
