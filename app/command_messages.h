#pragma once
// What the one-shot commands and the enrolment say when they fail: what failed, why,
// and what to do, in one line each. Plain text rules, no I/O.
#include <cstdint>
#include <string>

#include "net/http_parsing.h"

namespace sv {

// Why `response`, asked of `url`, is no usable answer, with the next step: the cause the
// client knows (name not found, refused, the certificate and what is wrong with it, no
// answer in time, ...), never a list of guesses. `option` is the command-line word that
// set the address ("--api", "--fetch"); empty when the address is built in, so that
// nobody is asked to check an address they cannot change. A response that came with a
// status but nothing in it says so.
std::string NoAnswerReason(const std::string& url, const HttpResponse& response, const std::string& option,
                           const std::string& caBundlePath);

// "--fetch" that got no 200 answer, ended by "\n".
std::string FetchFailureLine(const std::string& url, const HttpResponse& response, const std::string& caBundlePath);

// "install service: N" / "uninstall service: N" with what the result code means, "\n"
// ended. A code other than 0 is a failure.
std::string ServiceResultLine(bool uninstall, int code);

// "install service: 3": the program was not installed because `why` (others can change
// where it runs from), with what to do instead; "\n" ended.
std::string InstallRefusedLine(const std::string& why);

}  // namespace sv
