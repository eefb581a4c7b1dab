#pragma once
// Device enrolment as JSON: the request to the support API, the reading of its answer,
// and the enrolment record device.json. No I/O here.
#include <cstddef>
#include <cstdint>
#include <string>

namespace sv {

// {"enrollToken","name","os":"win"}, compact; invalid UTF-8 is replaced by U+FFFD.
std::string BuildEnrollRequest(const std::string& token, const std::string& name);

struct EnrollAnswer {
    enum class Outcome {
        NoResponse,   // empty body
        Enrolled,     // deviceId (int32) and deviceSecret (string)
        Refused,      // valid JSON lacking deviceId or deviceSecret
        BadResponse,  // not JSON, or the two keys hold values of the wrong kind
    };
    Outcome outcome = Outcome::NoResponse;
    int32_t deviceId = 0;
    std::string deviceSecret;
    // For a refusal: the answer's "error" text as ShownServerReason gives it, or "bad
    // response" when it has none.
    std::string error;
    bool errorGiven = false;  // the refusal carried an "error" text
};

// Why an enrolment ended without a device, for the window to word in its own language.
struct EnrolFailure {
    enum class Kind {
        None,
        MissingWords,  // no token or no name
        NoResponse,    // the support API gave no answer
        Refused,       // it said no; `reason` holds its words
        Unreadable,    // its answer is no enrolment and gives no reason
        NotStored,     // enrolled, but device.json cannot be written
    };
    Kind kind = Kind::None;
    std::string reason;  // Refused with a reason: the server's words, made safe by ShownServerReason
    bool operator==(const EnrolFailure& other) const { return kind == other.kind && reason == other.reason; }
    bool operator!=(const EnrolFailure& other) const { return !(*this == other); }
};

// A server's reason as the host repeats it on the console, in the audit log and on the
// window's card: a server is no trusted source of text. Line ends and tabs become
// spaces, other control and direction-changing characters and invalid UTF-8 become
// U+FFFD, blanks at either end go, and a text longer than kShownReasonLimit code points
// is cut there, its last kept character replaced by "…".
constexpr size_t kShownReasonLimit = 160;
std::string ShownServerReason(const std::string& text);

// Only an integer id within int32 and a string secret count as an enrolment: anything
// looser would store a different id than the server gave and still report success.
EnrollAnswer ReadEnrollAnswer(const std::string& body);

// device.json: {"apiBase","deviceId","deviceSecret"}, compact, keys in that order.
// Throws nlohmann's type_error when a text is not valid UTF-8.
std::string BuildDeviceRecord(int32_t deviceId, const std::string& deviceSecret, const std::string& apiBase);

// True when `text` is a device record with the same checks as an enrolment answer;
// "apiBase" is not needed.
bool ReadDeviceRecord(const std::string& text, int32_t& deviceId, std::string& deviceSecret);

}  // namespace sv
