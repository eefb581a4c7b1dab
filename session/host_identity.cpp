#include "session/host_identity.h"

#include <nlohmann/json.hpp>

#include "base/json_text.h"
#include "base/sha256_hex.h"

namespace sv {
namespace {

using ordered_json = nlohmann::ordered_json;

bool IsTrailingSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Parses `text` as a JSON object, keeping its key order; false for anything else.
bool ParseObject(const std::string& text, ordered_json& out) {
    out = ordered_json::parse(text, nullptr, false);
    return !out.is_discarded() && out.is_object();
}

}  // namespace

std::string IdentityNotStoredLine(const std::string& hostIdProblem, const std::string& passwordProblem) {
    const bool both = !hostIdProblem.empty() && !passwordProblem.empty();
    const std::string what = both                   ? "the Host ID and the password are"
                             : hostIdProblem.empty() ? "the password is"
                                                     : "the Host ID is";
    std::string files = hostIdProblem;
    if (!passwordProblem.empty()) files += (files.empty() ? "" : "; cannot write ") + passwordProblem;
    return what + " not stored (cannot write " + files + "): " + (both ? "they hold" : "it holds") +
           " only until this host stops, and the next start shows new ones; make the data folder writable, or give "
           "another with --data-dir";
}

std::string HostIdFromFileText(const std::string& content) {
    std::string text = content.substr(0, 31);
    while (!text.empty() && IsTrailingSpace(text.back())) text.pop_back();
    if (text.size() != 9) return std::string();
    for (char c : text) {
        if (c < '0' || c > '9') return std::string();
    }
    return text;
}

std::string HostIdFromRandom(const Random32& draw) {
    const uint64_t range = uint64_t{kHostIdMax} - kHostIdMin + 1;
    // Values at or above the largest multiple of the range below 2^32 would favour
    // the low ids; they are drawn again.
    const uint64_t limit = (uint64_t{1} << 32) / range * range;
    uint64_t value = 0;
    do {
        value = draw();
    } while (value >= limit);
    return std::to_string(kHostIdMin + value % range);
}

std::string PasswordFromRandom(const Random32& draw) {
    std::string password;
    password.reserve(kPasswordLength);
    // 32 divides 2^32, so the low five bits of a uniform draw are uniform.
    for (int i = 0; i < kPasswordLength; ++i) password.push_back(kPasswordAlphabet[draw() % kPasswordAlphabetSize]);
    return password;
}

std::string HashPassword(const std::string& password) { return Sha256Hex(password); }

std::string PasswordFromSettingsText(const std::string& text) {
    ordered_json settings;
    if (!ParseObject(text, settings)) return std::string();
    auto it = settings.find("password");
    if (it == settings.end() || !it->is_string()) return std::string();
    return it->get<std::string>();
}

std::string SettingsTextWithNewPassword(const std::string& existing, bool exists, const std::string& password,
                                        const std::string& relayUrl, const std::string& apiBase) {
    ordered_json settings;
    // The file is shared with the LAN, theme and training settings: an object that
    // merely lacks a usable password keeps all of them.
    if (exists && ParseObject(existing, settings)) {
        settings["password"] = password;
        return SerializeJson(settings);
    }
    settings = ordered_json::object();
    settings["relayUrl"] = relayUrl;
    settings["apiBase"] = apiBase;
    settings["password"] = password;
    return SerializeJson(settings);
}

std::string SettingsTextWithRotatedPassword(const std::string& existing, const std::string& password) {
    ordered_json settings;
    if (!ParseObject(existing, settings)) settings = ordered_json::object();
    settings["password"] = password;
    return SerializeJson(settings);
}

}  // namespace sv
