#include "app/command_line.h"

#include <limits>

namespace sv {

void ReadCommandLine(const std::vector<std::string>& args, CommandLine& line) {
    const size_t count = args.size();
    // Takes the word after i into `out` when there is one.
    auto value = [&](size_t& i, std::string& out) {
        if (i + 1 >= count) return false;
        out = args[++i];
        return true;
    };
    for (size_t i = 1; i < count; ++i) {
        const std::string& word = args[i];
        if (word == "--relay") {
            value(i, line.options.relayUrl);
        } else if (word == "--api") {
            value(i, line.options.apiBase);
        } else if (word == "--cacert") {
            value(i, line.options.caBundlePath);
        } else if (word == "--data-dir") {
            value(i, line.options.dataDir);
        } else if (word == "--lan") {
            std::string port;
            if (value(i, port)) line.options.lanPort = ReadLeadingInt(port);
        } else if (word == "--tray") {
            line.tray = true;
        } else if (word == "--service") {
            line.service = true;
        } else if (word == "--install-service") {
            line.installService = true;
        } else if (word == "--uninstall-service") {
            line.uninstallService = true;
        } else if (word == "--check-update") {
            line.checkUpdate = true;
        } else if (word == "--no-update") {
            line.noUpdate = true;
        } else if (word == "--fetch") {
            if (i + 2 < count) {
                line.fetch = true;
                line.fetchUrl = args[i + 1];
                line.fetchDestination = args[i + 2];
                i += 2;
            }
        } else if (word == "--self-test-update") {
            line.selfTestUpdate = true;
        } else if (word == "--self-test-lan") {
            line.selfTestLan = true;
        } else if (word == "--enroll-only" || word == "--enroll") {
            if (word == "--enroll") {
                line.enroll = true;
            } else {
                line.enrollOnly = true;
            }
            value(i, line.enrollToken);
            value(i, line.enrollName);
        } else if (word == "--help" || word == "-h") {
            line.help = true;
            return;
        }
    }
}

bool IsApplyUpdateRun(const std::vector<std::string>& args) {
    return args.size() > 1 && args[1] == "--apply-update";
}

bool WantsSrpVectors(const std::vector<std::string>& args) {
    return args.size() > 1 && args[1] == "--srp-vectors";
}

UiaCommand FindUiaCommand(const std::vector<std::string>& args) {
    UiaCommand found;
    if (args.size() < 3) return found;
    for (size_t i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--uia-tree") {
            found.kind = UiaCommand::Kind::Tree;
        } else if (args[i] == "--uia-focus") {
            found.kind = UiaCommand::Kind::Focus;
        } else {
            continue;
        }
        found.value = args[i + 1];
        return found;
    }
    return found;
}

OneShot SelectOneShot(const CommandLine& line, const std::vector<std::string>& args) {
    if (line.fetch) return OneShot::Fetch;
    if (line.enrollOnly) return OneShot::EnrollOnly;
    if (line.installService || line.uninstallService) return OneShot::ServiceInstall;
    if (line.selfTestUpdate) return OneShot::SelfTestUpdate;
    if (WantsSrpVectors(args)) return OneShot::SrpVectors;
    if (line.selfTestLan) return OneShot::SelfTestLan;
    UiaCommand uia = FindUiaCommand(args);
    if (uia.kind == UiaCommand::Kind::Tree) return OneShot::UiaTree;
    if (uia.kind == UiaCommand::Kind::Focus) return OneShot::UiaFocus;
    if (line.checkUpdate) return OneShot::CheckUpdate;
    return OneShot::None;
}

int32_t ReadLeadingInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    const int64_t cap = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > cap) value = cap;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) value = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

int32_t UiaFocusSeconds(const std::string& word) {
    int32_t seconds = ReadLeadingInt(word);
    if (seconds < 0) return 0;
    if (seconds > kMaxUiaFocusSeconds) return kMaxUiaFocusSeconds;
    return seconds;
}

std::string UsageText() {
    return "usage: sorvane-host-win7 [--relay <wss://...>] [--api <https://...>] [--cacert <path>]\n"
           "                         [--data-dir <dir>] [--classic] [--enroll <token> <name>]\n"
           "                         [--tray] [--no-update] [--fetch <https-url> <dest>]\n"
           "                         [--enroll-only <token> <name>] [--uia-tree <title>] [--uia-focus <s>]\n"
           "Runs classic unless device.json exists (enrolled) or --enroll is given.\n";
}

std::string DefaultDataDir(const char* appData) {
    if (appData == nullptr || *appData == '\0') return "Sorvane";
    return std::string(appData) + "\\Sorvane";
}

std::string ServiceDataDir(const char* programData) {
    std::string base = (programData == nullptr || *programData == '\0') ? "C:\\ProgramData" : programData;
    return base + "\\Sorvane";
}

}  // namespace sv
