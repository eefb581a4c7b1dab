#pragma once
// What the one-shot commands and the enrolment say when they fail: what failed, why,
// and what to do, in one line each. Plain text rules, no I/O.
#include <cstdint>
#include <string>

namespace sv {

// Why an HTTPS request to `url` brought no usable answer (the client reports every
// failure alike), as far as the address and the CA file tell: a `url` that is no
// https:// address, a CA file that is missing, else the possible causes. `option` is
// the command-line word that set the address ("--api"), empty when the URL was given
// as a command's own value.
std::string NoAnswerReason(const std::string& url, const std::string& option, const std::string& caBundlePath,
                           bool caBundleFound);

// "--fetch" that got no 200 answer (`status` 0: none), ended by "\n".
std::string FetchFailureLine(const std::string& url, int32_t status, const std::string& caBundlePath,
                             bool caBundleFound);

// "install service: N" / "uninstall service: N" with what the result code means, "\n"
// ended. A code other than 0 is a failure.
std::string ServiceResultLine(bool uninstall, int code);

// "install service: 3": the program was not installed because `why` (others can change
// where it runs from), with what to do instead; "\n" ended.
std::string InstallRefusedLine(const std::string& why);

}  // namespace sv
