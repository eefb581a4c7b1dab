#include "app/command_messages.h"

#include "net/http_parsing.h"

namespace sv {

std::string NoAnswerReason(const std::string& url, const HttpResponse& response, const std::string& option,
                           const std::string& caBundlePath) {
    HttpsUrl target;
    if (response.failure == HttpFailure::NotHttps || !SplitHttpsUrl(url, target)) {
        return "\"" + url + "\" is not an https:// address; give one" + (option.empty() ? "" : " with " + option) +
               ", as https://host/...";
    }
    const std::string server = target.host + ":" + std::to_string(target.port);
    // The address is the person's to check only when they gave it.
    const std::string checkAddress = option.empty() ? "" : "check the address given with " + option;
    switch (response.failure) {
    case HttpFailure::None:
        if (response.status == 0) break;
        return server + " answered HTTP " + std::to_string(response.status) + " with nothing in it; " +
               (option.empty() ? "try again later" : "check that " + option + " names the right server");
    case HttpFailure::NotHttps:
        break;
    case HttpFailure::Connect: {
        const ConnectFailure cause = response.connectFailure;
        const std::string what = ConnectFailureText(cause, target.host, caBundlePath);
        switch (cause) {
        case ConnectFailure::CaUnreadable:
            return "the CA file " + caBundlePath +
                   " cannot be read or holds no certificate, so no server can be trusted; give one with --cacert";
        case ConnectFailure::NameNotFound:
        case ConnectFailure::Unreachable:
        case ConnectFailure::ConnectTimedOut:
            return server + ": " + what + "; " + (option.empty() ? "check" : checkAddress + " and") +
                   " this computer's network connection";
        case ConnectFailure::Refused:
            return server + ": " + what + "; " +
                   (option.empty() ? "the server may be down, try again later" : checkAddress);
        case ConnectFailure::BadAddress:
        case ConnectFailure::CertNameMismatch:
            return server + ": " + what + (option.empty() ? "" : "; " + checkAddress);
        case ConnectFailure::Aborted:
            return "the request to " + server + " was stopped";
        default:
            // The certificate's own causes carry their next step; the rest are the peer's.
            return server + ": " + what + (IsCertificateFailure(cause) ? "" : "; try again later");
        }
    }
    case HttpFailure::NoAnswer:
        return server + " ended the connection without an answer; try again later";
    case HttpFailure::AnswerTimedOut:
        return server + " did not answer in time; try again later";
    case HttpFailure::NotHttp:
        return server + " did not answer with HTTP; " +
               (option.empty() ? "try again later" : "check that " + option + " names the right server");
    case HttpFailure::CutShort:
        return "the answer from " + server + " was cut short; try again later";
    case HttpFailure::TooLarge:
        return "the answer from " + server + " is larger than any answer taken";
    case HttpFailure::RedirectAway:
        return server + " redirected the request away from https://, which is never followed";
    case HttpFailure::TooManyRedirects:
        return server + " redirected the request more than 5 times";
    }
    return "no usable answer from " + server;
}

std::string FetchFailureLine(const std::string& url, const HttpResponse& response, const std::string& caBundlePath) {
    const int32_t status = response.status;
    std::string reason;
    if (status == 0) {
        reason = NoAnswerReason(url, response, "--fetch", caBundlePath);
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
