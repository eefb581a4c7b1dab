#include "app/relay_settings_check.h"

#include "net/ca_bundle.h"
#include "net/websocket_frame.h"

namespace sv {

std::string RelayUrlProblem(const std::string& url) {
    const std::string named = "relay address \"" + url + "\" cannot work: ";
    const bool secure = url.compare(0, 6, "wss://") == 0;
    if (!secure && url.compare(0, 5, "ws://") != 0) {
        return named + "it must begin with wss:// (or ws:// to this computer); see --relay";
    }
    WebSocketUrl parts;
    if (!SplitWebSocketUrl(url, parts)) {
        return parts.host.empty() ? named + "it names no host" : named + "its port is not a number from 1 to 65535";
    }
    if (parts.port == 0) return named + "its port is not a number from 1 to 65535";
    if (!secure && !IsLoopbackHostName(parts.host)) {
        return named + "ws:// without TLS only reaches this computer (127.0.0.1, localhost); use wss://";
    }
    return std::string();
}

bool RelayUrlUsesTls(const std::string& url) {
    return RelayUrlProblem(url).empty() && url.compare(0, 6, "wss://") == 0;
}

std::string CaBundleProblem(const std::string& path, const WholeFileReader& read) {
    std::string contents;
    if (!read(path, contents)) {
        return "CA file \"" + path + "\" cannot be read: give a readable PEM file of trusted certificates with --cacert";
    }
    if (contents.empty()) {
        return "CA file \"" + path + "\" is empty: give a PEM file of trusted certificates with --cacert";
    }
    // Readable is not enough: every connect would then fail on a file that holds no
    // certificate, saying only that it cannot be read.
    const CaBundleCount count = CountCaCertificates(contents);
    if (count.certificates == 0) {
        return "CA file \"" + path + "\" holds no certificate: give a PEM file of trusted certificates with --cacert";
    }
    if (!count.Usable()) {
        return "CA file \"" + path + "\" holds " + std::to_string(count.unreadable) +
               " certificate(s) that cannot be read, and a connection refuses the whole file: remove them, or give "
               "another PEM file with --cacert";
    }
    return std::string();
}

}  // namespace sv
