#pragma once
// The classic host's identity as plain rules over text and random numbers:
// what a stored Host ID looks like, how ids and passwords are drawn, how the
// password is hashed for the relay and how it sits in host-ui.json.
// File access lives in base/file_io.h, the system's random source in base/system_random.h.
#include <cstdint>
#include <functional>
#include <string>

namespace sv {

// 24 lowercase letters without l and o, then the digits 2 to 9: nothing that reads
// like another character when spoken or written down.
constexpr char kPasswordAlphabet[] = "abcdefghijkmnpqrstuvwxyz23456789";
constexpr int kPasswordAlphabetSize = 32;
constexpr int kPasswordLength = 6;
constexpr uint32_t kHostIdMin = 100000000u;
constexpr uint32_t kHostIdMax = 999999999u;

// Which part of the classic identity could not be written to the data folder: it lasts
// for this run only, and the next start makes a new one.
struct UnstoredIdentity {
    bool hostId = false;
    bool password = false;
};

// The one line for a Host ID and/or password that could not be stored. Each problem is
// "<file>: <why>", empty for a part that was stored; at least one is given.
std::string IdentityNotStoredLine(const std::string& hostIdProblem, const std::string& passwordProblem);

// A source of independent, uniformly distributed 32-bit values.
using Random32 = std::function<uint32_t()>;

// The Host ID held by host-id.txt's content (at most its first 31 bytes count),
// or "" when the content is not nine decimal digits once trailing white space is gone.
std::string HostIdFromFileText(const std::string& content);

// A uniformly drawn id from 100000000 to 999999999 (rejection sampling, no bias).
std::string HostIdFromRandom(const Random32& draw);

// Six characters, each drawn uniformly from all 32 of the alphabet.
std::string PasswordFromRandom(const Random32& draw);

// SHA-256 of the password's bytes as 64 lowercase hex digits.
std::string HashPassword(const std::string& password);

// The "password" held by host-ui.json's text: the string value when the text is a
// JSON object with a string "password", else "".
std::string PasswordFromSettingsText(const std::string& text);

// host-ui.json's new text after a password was made for a file without one.
// `existing` is the current text (`exists` false when there is no file): an object
// keeps every key and gets "password" set; anything else is replaced by
// {"relayUrl","apiBase","password"}. Compact, keys in their original order.
std::string SettingsTextWithNewPassword(const std::string& existing, bool exists, const std::string& password,
                                        const std::string& relayUrl, const std::string& apiBase);

// host-ui.json's new text after a rotation: the existing object (or an empty one
// when the text is not an object) with "password" set. Compact, order kept.
std::string SettingsTextWithRotatedPassword(const std::string& existing, const std::string& password);

}  // namespace sv
