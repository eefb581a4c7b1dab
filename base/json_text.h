#pragma once
// The one way the host turns JSON into text for a peer or a file: compact, non-ASCII as
// UTF-8, and invalid UTF-8 (a peer's bytes, a window title) replaced by U+FFFD instead of
// throwing. A `json` comes out with its keys in ascending byte order, an `ordered_json`
// in the order they were set (the order some peers expect).
#include <string>

#include <nlohmann/json.hpp>

namespace sv {

std::string SerializeJson(const nlohmann::json& value);
// Its own overload: an ordered_json handed to the one above would be converted and sorted.
std::string SerializeJson(const nlohmann::ordered_json& value);

}  // namespace sv
