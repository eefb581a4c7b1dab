#pragma once
// The whole life of the process: start-up, options, one-shot commands, the single
// instance and the run modes. app/main.cpp only hands its arguments over.
#include <string>
#include <vector>

namespace sv {

class Host;

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

// The update thread's callbacks: a log line to the console and the audit log, and the
// stop before an update is applied.
void LogUpdateLine(const std::string& line);
void ShutdownForUpdate();

// The Host that ShutdownForUpdate stops. Cleared (nullptr) before that Host is
// destroyed; clearing waits for a ShutdownForUpdate that is using it.
void SetUpdateHost(Host* host);

int RunHostProcess(const std::vector<std::string>& args);

}  // namespace sv
