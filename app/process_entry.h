#pragma once
// The whole life of the process: start-up, options, one-shot commands, the single
// instance and the run modes. app/main.cpp only hands its arguments over.
#include <functional>
#include <string>
#include <vector>

#include "base/annotated_mutex.h"

namespace sv {

class Host;
class HostWindow;

// The process's arguments as UTF-8 words, from the wide command line (argv as the
// C runtime gives it is in the ANSI code page and loses characters).
std::vector<std::string> CommandLineWords(int argc, char** argv);

// The directory of the running executable, UTF-8.
std::string GetExecutableDirectory();

// The CA bundle: "cacert.pem" beside the executable, else "..\third_party\cacert.pem"
// from there, else "third_party/cacert.pem" from the working directory; the first
// candidate when none is a file. UTF-8, as every path inside the host.
std::string FindCaBundle();

void PrintUsage();

// The update thread's log: a line to the console and the audit log.
void LogUpdateLine(const std::string& line);

// What an update stops before its installer replaces the program: the Host, and the tray
// window while one runs. The update thread shares it: a thread that was let go may call
// it after the run has ended, and then finds nothing to stop.
class UpdateShutdown {
public:
    // Stops the attached Host and closes the attached window; any thread.
    void operator()() SV_EXCLUDES(mutex_);

    // nullptr detaches. Detaching waits for a call that is using what it detaches, so
    // each is detached before it is destroyed.
    void AttachHost(Host* host) SV_EXCLUDES(mutex_);
    void AttachWindow(HostWindow* window) SV_EXCLUDES(mutex_);

private:
    Mutex mutex_;  // held across the calls, which is what lets a detach wait for one
    Host* host_ SV_GUARDED_BY(mutex_) = nullptr;
    HostWindow* window_ SV_GUARDED_BY(mutex_) = nullptr;
};

// The ways out of the process's start that tests replace.
struct ProcessSeams {
    // Shows why a tray start ended, where there is no console to say it; returns once
    // the person has read it. Default: a message box.
    std::function<void(const std::wstring& title, const std::wstring& text)> showStartFailure;
};

// The whole run; the process's exit code.
int RunHostProcess(const std::vector<std::string>& args, ProcessSeams seams = ProcessSeams());

}  // namespace sv
