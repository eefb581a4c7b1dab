#pragma once
// What the command line asks for: the options, the run mode and the one-shot commands.
// Plain reading only; app/process_entry.h acts on it.
#include <cstdint>
#include <string>
#include <vector>

#include "session/host_options.h"

namespace sv {

// The "--uia-tree" or "--uia-focus" one-shot and its word.
struct UiaCommand {
    enum class Kind { None, Tree, Focus };
    Kind kind = Kind::None;
    std::string value;
};

struct CommandLine {
    HostOptions options;        // comes in holding the defaults; words overwrite them
    bool tray = false;
    bool service = false;
    bool installService = false;
    bool uninstallService = false;
    bool checkUpdate = false;
    bool noUpdate = false;
    bool selfTestUpdate = false;
    bool selfTestLan = false;
    bool enroll = false;
    bool enrollOnly = false;
    std::string enrollToken;  // shared by "--enroll" and "--enroll-only"
    std::string enrollName;
    bool fetch = false;  // "--fetch" came with both its words, even empty ones
    std::string fetchUrl;
    std::string fetchDestination;
    UiaCommand uia;     // the first of the two that came with its word
    bool help = false;  // "--help" or "-h" ended the reading
    // A command that cannot run without its words is missing them: this one line says
    // which, the reading stopped there and nothing may run.
    std::string error;
    // Words that were ignored, one line each, so that a typo does not go unnoticed.
    std::vector<std::string> warnings;
    // The last "--lan" value's warning (also among `warnings`): a running host writes it
    // to the audit log too, since a tray or service start has no console.
    std::string lanWarning;
};

// One word the reading knows, with what it does to the line.
struct OptionSpec {
    const char* word;
    int valueCount;      // how many words after it are its values
    bool valueRequired;  // missing values are an error (commands), not an ignored word
    const char* need;    // its values in words: "a token and a name"
    void (*apply)(CommandLine& line, const std::vector<std::string>& values);
};

// Every word the reading knows, "--help" and "-h" included.
const std::vector<OptionSpec>& KnownOptions();

// Reads args[1] onwards into `line` (args[0] is the program). Words are compared
// exactly; later words win. A word starting with "--" is never taken as a value: an
// option left without its values is ignored with a warning, a command left without
// them sets `error` and ends the reading. Unknown words are ignored with a warning.
// "--help"/"-h" stop the reading at once and set `help`.
void ReadCommandLine(const std::vector<std::string>& args, CommandLine& line);

// "--apply-update" and "--srp-vectors" count only as the first word.
bool IsApplyUpdateRun(const std::vector<std::string>& args);
bool WantsSrpVectors(const std::vector<std::string>& args);

// The one-shot commands in the order they are tried; the first that applies runs.
enum class OneShot {
    None,
    Fetch,
    EnrollOnly,
    ServiceInstall,  // install or uninstall; uninstall wins when both are given
    SelfTestUpdate,
    SrpVectors,
    SelfTestLan,
    UiaTree,
    UiaFocus,
    CheckUpdate,
};
OneShot SelectOneShot(const CommandLine& line, const std::vector<std::string>& args);

// C's atoi without its undefined overflow: leading blanks, a sign, digits, the rest
// ignored; values beyond int32 are clamped.
int32_t ReadLeadingInt(const std::string& text);

// What "--lan <word>" warns about, empty for a whole number up to 65535 (0 and below
// being the settings' "decided by host-ui.json" and "off"): a number above the highest
// port, which turns LAN direct off, or a word that is no whole number, which is read as
// ReadLeadingInt reads it. The line names the word and what LAN direct does now.
std::string LanOptionWarning(const std::string& word);

// The seconds of "--uia-focus", kept between 0 and one hour.
int32_t UiaFocusSeconds(const std::string& word);
constexpr int32_t kMaxUiaFocusSeconds = 3600;

// The usage text: every word the reading knows.
std::string UsageText();

// Data directories: the console/tray default from APPDATA, and the service's own from
// PROGRAMDATA. An empty variable counts as unset; `nullptr` means unset.
std::string DefaultDataDir(const char* appData);
std::string ServiceDataDir(const char* programData);

}  // namespace sv
