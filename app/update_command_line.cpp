#include "app/update_command_line.h"

#include <algorithm>
#include <limits>

#include "base/text_encoding.h"

namespace sv {

std::wstring QuoteCommandLineArg(const std::string& arg) {
    const std::wstring wide = Utf8ToUtf16(arg);
    if (!arg.empty() && wide.find_first_of(L" \t\n\v\"") == std::wstring::npos) return wide;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : wide) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count as escapes only in front of a double quote.
        if (c == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
        } else {
            out.append(backslashes, L'\\');
        }
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

namespace {

void AppendArgs(std::wstring& line, const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        line += L' ';
        line += QuoteCommandLineArg(arg);
    }
}

}  // namespace

std::wstring BuildUpdaterCommandLine(const std::string& updaterExe, uint32_t parentPid,
                                     const std::string& stagingDir, const std::string& targetExe,
                                     const std::vector<std::string>& hostArgs) {
    std::wstring line = QuoteCommandLineArg(updaterExe);
    line += L" --apply-update " + std::to_wstring(parentPid) + L" ";
    line += QuoteCommandLineArg(stagingDir) + L" " + QuoteCommandLineArg(targetExe);
    AppendArgs(line, hostArgs);
    return line;
}

std::wstring BuildRestartCommandLine(const std::string& targetExe, const std::vector<std::string>& hostArgs) {
    std::wstring line = QuoteCommandLineArg(targetExe);
    AppendArgs(line, hostArgs);
    return line;
}

std::vector<std::string> ArgumentsToHandOn(const std::vector<std::string>& hostArgs) {
    std::vector<std::string> out;
    const size_t count = hostArgs.size();
    for (size_t i = 0; i < count; ++i) {
        const std::string& word = hostArgs[i];
        size_t values = 0;
        if (word == "--relay" || word == "--api" || word == "--cacert" || word == "--data-dir" || word == "--lan") {
            values = 1;
        } else if (word == "--fetch") {
            values = i + 2 < count ? 2 : 0;
        } else if (word == "--enroll" || word == "--enroll-only") {
            values = 2;
        }
        const size_t last = std::min(i + values, count - 1);
        if (word != "--enroll") {
            for (size_t k = i; k <= last; ++k) out.push_back(hostArgs[k]);
        }
        i = last;
    }
    return out;
}

bool ParseApplyArguments(const std::vector<std::string>& words, ApplyRequest& request) {
    if (words.size() < 3) return false;
    uint64_t pid = 0;
    size_t i = 0;
    const std::string& text = words[0];
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < text.size() && text[i] == '+') ++i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        pid = pid * 10 + static_cast<uint64_t>(text[i] - '0');
        if (pid > std::numeric_limits<uint32_t>::max()) pid = std::numeric_limits<uint32_t>::max();
    }
    request.parentPid = static_cast<uint32_t>(pid);
    request.stagingDir = words[1];
    request.targetExe = words[2];
    request.hostArgs.assign(words.begin() + 3, words.end());
    return true;
}

std::string InstallDirectoryOf(const std::string& targetExe) {
    size_t slash = targetExe.find_last_of("\\/");
    if (slash == std::string::npos) return ".";
    // "C:\host.exe": the root keeps its separator.
    if (slash == 0 || (slash == 2 && targetExe[1] == ':')) return targetExe.substr(0, slash + 1);
    return targetExe.substr(0, slash);
}

bool RestartsAsService(const std::vector<std::string>& hostArgs) {
    for (const std::string& arg : hostArgs) {
        if (arg == "--service") return true;
    }
    return false;
}

int ApplyExitCode(bool restarted, bool installedWhole) {
    if (!restarted) return kApplyRestartFailed;
    return installedWhole ? kApplyOk : kApplyIncomplete;
}

}  // namespace sv
