#include "app/command_messages.h"

#include "net/http_parsing.h"

namespace sv {

std::string NoAnswerReason(const std::string& url, const std::string& option, const std::string& caBundlePath,
                           bool caBundleFound) {
    HttpsUrl target;
    if (!SplitHttpsUrl(url, target)) {
        return "\"" + url + "\" is not an https:// address; give one" + (option.empty() ? "" : " with " + option) +
               ", as https://host/...";
    }
    if (!caBundleFound) {
        return "the CA file " + caBundlePath + " cannot be found, so no server can be trusted; give one with --cacert";
    }
    return "no usable answer from " + target.host + ":" + std::to_string(target.port) +
           " (not reachable, its certificate not trusted by " + caBundlePath +
           ", the answer cut short, or redirected away from https:// or more than 5 times); check the address" +
           (option.empty() ? "" : " given with " + option) + ", the network and --cacert";
}

std::string FetchFailureLine(const std::string& url, int32_t status, const std::string& caBundlePath,
                             bool caBundleFound) {
    std::string reason;
    if (status == 0) {
        reason = NoAnswerReason(url, "", caBundlePath, caBundleFound);
    } else if (status >= 300 && status < 400) {
        reason = "the server answered with a redirect that was not followed; check the URL";
    } else if (status >= 500) {
        reason = "the server failed to answer for " + url + "; try again later";
    } else {
        reason = "the server refused to give " + url + "; check the URL";
    }
    return "fetch failed: HTTP " + std::to_string(status) + ": " + reason + "\n";
}

std::string ServiceResultLine(bool uninstall, int code) {
    std::string meaning;
    if (code == 0) {
        meaning = uninstall ? "the service SorvaneHost is removed"
                            : "the service SorvaneHost is installed and starts with Windows";
    } else if (code == 1) {
        meaning = "the service manager cannot be opened; run this from a command prompt started as administrator";
    } else if (uninstall && code == 2) {
        meaning = "the service SorvaneHost is not installed, or this account may not remove it (then run as "
                  "administrator); nothing was removed";
    } else if (uninstall) {
        meaning = "the service SorvaneHost could not be deleted; stop it first, or run as administrator";
    } else {
        meaning = "the service SorvaneHost could not be created; if it is installed already, remove it first with "
                  "--uninstall-service, otherwise run as administrator";
    }
    return std::string(uninstall ? "uninstall" : "install") + " service: " + std::to_string(code) + " (" + meaning +
           ")\n";
}

std::string InstallRefusedLine(const std::string& why) {
    return "install service: 3 (not installed: " + why +
           "; copy the program into a folder only administrators can change, such as Program Files, and install it "
           "from there)\n";
}

}  // namespace sv
