#include "app/command_line.h"

#include <limits>

namespace sv {
namespace {

using Values = std::vector<std::string>;

// Nobody names a file, a token or a window "--something" on purpose; far more often an
// option's value was forgotten and the next option would be sent away in its place.
bool IsOptionWord(const std::string& word) { return word.compare(0, 2, "--") == 0; }

void TakeEnrolment(CommandLine& line, const Values& v) {
    line.enrollToken = v[0];
    line.enrollName = v[1];
}

void TakeUia(CommandLine& line, UiaCommand::Kind kind, const std::string& value) {
    if (line.uia.kind != UiaCommand::Kind::None) return;  // the first one runs
    line.uia.kind = kind;
    line.uia.value = value;
}

}  // namespace

const std::vector<OptionSpec>& KnownOptions() {
    static const std::vector<OptionSpec> options = {
        {"--relay", 1, false, "a wss:// URL", [](CommandLine& l, const Values& v) { l.options.relayUrl = v[0]; }},
        {"--api", 1, false, "an https:// URL", [](CommandLine& l, const Values& v) { l.options.apiBase = v[0]; }},
        {"--cacert", 1, false, "a file", [](CommandLine& l, const Values& v) { l.options.caBundlePath = v[0]; }},
        {"--data-dir", 1, false, "a folder", [](CommandLine& l, const Values& v) { l.options.dataDir = v[0]; }},
        {"--lan", 1, false, "a port number",
         [](CommandLine& l, const Values& v) {
             l.options.lanPort = ReadLeadingInt(v[0]);
             l.lanWarning = LanOptionWarning(v[0]);
             if (!l.lanWarning.empty()) l.warnings.push_back(l.lanWarning);
         }},
        // Printed by the usage text since the first version: classic is what runs anyway.
        {"--classic", 0, false, "", [](CommandLine&, const Values&) {}},
        {"--enroll", 2, true, "a token and a name",
         [](CommandLine& l, const Values& v) {
             l.enroll = true;
             TakeEnrolment(l, v);
         }},
        {"--tray", 0, false, "", [](CommandLine& l, const Values&) { l.tray = true; }},
        {"--service", 0, false, "", [](CommandLine& l, const Values&) { l.service = true; }},
        {"--no-update", 0, false, "", [](CommandLine& l, const Values&) { l.noUpdate = true; }},
        {"--fetch", 2, true, "an https:// URL and a destination file",
         [](CommandLine& l, const Values& v) {
             l.fetch = true;
             l.fetchUrl = v[0];
             l.fetchDestination = v[1];
         }},
        {"--enroll-only", 2, true, "a token and a name",
         [](CommandLine& l, const Values& v) {
             l.enrollOnly = true;
             TakeEnrolment(l, v);
         }},
        {"--uia-tree", 1, true, "a window title",
         [](CommandLine& l, const Values& v) { TakeUia(l, UiaCommand::Kind::Tree, v[0]); }},
        {"--uia-focus", 1, true, "a number of seconds",
         [](CommandLine& l, const Values& v) { TakeUia(l, UiaCommand::Kind::Focus, v[0]); }},
        {"--install-service", 0, false, "", [](CommandLine& l, const Values&) { l.installService = true; }},
        {"--uninstall-service", 0, false, "", [](CommandLine& l, const Values&) { l.uninstallService = true; }},
        {"--check-update", 0, false, "", [](CommandLine& l, const Values&) { l.checkUpdate = true; }},
        {"--self-test-update", 0, false, "", [](CommandLine& l, const Values&) { l.selfTestUpdate = true; }},
        {"--self-test-lan", 0, false, "", [](CommandLine& l, const Values&) { l.selfTestLan = true; }},
        // Acts only as the first word (WantsSrpVectors); anywhere else it is ignored.
        {"--srp-vectors", 0, false, "", nullptr},
        {"--help", 0, false, "", [](CommandLine& l, const Values&) { l.help = true; }},
        {"-h", 0, false, "", [](CommandLine& l, const Values&) { l.help = true; }},
    };
    return options;
}

void ReadCommandLine(const std::vector<std::string>& args, CommandLine& line) {
    const std::vector<OptionSpec>& known = KnownOptions();
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& word = args[i];
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& candidate : known) {
            if (word == candidate.word) spec = &candidate;
        }
        if (spec == nullptr) {
            line.warnings.push_back("ignoring \"" + word + "\": not an option of this program (see --help)");
            continue;
        }
        if (spec->apply == nullptr) {
            if (i != 1) line.warnings.push_back("ignoring " + word + ": it counts only as the first word");
            continue;
        }
        Values values;
        size_t next = i + 1;
        while (static_cast<int>(values.size()) < spec->valueCount && next < args.size() && !IsOptionWord(args[next])) {
            values.push_back(args[next++]);
        }
        if (static_cast<int>(values.size()) < spec->valueCount) {
            const std::string why =
                next < args.size() ? "\"" + args[next] + "\" is an option, not its value" : "nothing follows it";
            if (spec->valueRequired) {
                line.error = word + " needs " + spec->need + " (" + why + ")";
                return;
            }
            // The word after it is read as a word of its own.
            line.warnings.push_back("ignoring " + word + ": it needs " + spec->need + " (" + why + ")");
            continue;
        }
        spec->apply(line, values);
        if (line.help) return;
        i = next - 1;
    }
}

bool IsApplyUpdateRun(const std::vector<std::string>& args) {
    return args.size() > 1 && args[1] == "--apply-update";
}

bool WantsSrpVectors(const std::vector<std::string>& args) {
    return args.size() > 1 && args[1] == "--srp-vectors";
}

OneShot SelectOneShot(const CommandLine& line, const std::vector<std::string>& args) {
    if (line.fetch) return OneShot::Fetch;
    if (line.enrollOnly) return OneShot::EnrollOnly;
    if (line.installService || line.uninstallService) return OneShot::ServiceInstall;
    if (line.selfTestUpdate) return OneShot::SelfTestUpdate;
    if (WantsSrpVectors(args)) return OneShot::SrpVectors;
    if (line.selfTestLan) return OneShot::SelfTestLan;
    if (line.uia.kind == UiaCommand::Kind::Tree) return OneShot::UiaTree;
    if (line.uia.kind == UiaCommand::Kind::Focus) return OneShot::UiaFocus;
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

std::string LanOptionWarning(const std::string& word) {
    size_t i = 0;
    if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
    const bool whole = i < word.size() && word.find_first_not_of("0123456789", i) == std::string::npos;
    const int32_t port = ReadLeadingInt(word);
    const std::string named = "--lan \"" + word + "\": ";
    const char fix[] = "; give a port from 1 to 65535 (0 lets host-ui.json decide, -1 turns LAN direct off)";
    if (port > 65535) return named + "no port is above 65535, so LAN direct is off" + fix;
    if (whole) return std::string();
    const std::string now = port > 0   ? "LAN direct listens on port " + std::to_string(port)
                            : port < 0 ? std::string("LAN direct is off")
                                       : std::string("host-ui.json decides about LAN direct");
    return named + "not a port number, read as " + std::to_string(port) + ": " + now + fix;
}

int32_t UiaFocusSeconds(const std::string& word) {
    int32_t seconds = ReadLeadingInt(word);
    if (seconds < 0) return 0;
    if (seconds > kMaxUiaFocusSeconds) return kMaxUiaFocusSeconds;
    return seconds;
}

std::string UsageText() {
    return "usage: sorvane-host-win7 [--relay <wss://...>] [--api <https://...>] [--cacert <path>]\n"
           "                         [--data-dir <dir>] [--lan <port>] [--classic] [--enroll <token> <name>]\n"
           "                         [--tray] [--service] [--no-update] [--fetch <https-url> <dest>]\n"
           "                         [--enroll-only <token> <name>] [--uia-tree <title>] [--uia-focus <s>]\n"
           "                         [--install-service] [--uninstall-service] [--check-update]\n"
           "                         [--self-test-update] [--self-test-lan] [--srp-vectors] [--help | -h]\n"
           "Runs classic unless device.json exists (enrolled) or --enroll is given.\n"
           "--srp-vectors counts only as the first word. A word starting with \"--\" is never taken as a value.\n";
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
