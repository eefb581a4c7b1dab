// Registers the host as the service "SorvaneHost" exactly as "--install-service" does,
// without its check of who may change the program: under Wine every file reads as owned
// by the Unix user's account, which that check rightly refuses, so the end-to-end tests
// register the program through this and test the refusal on the program itself.
// "service_registrar <program path>" exits with InstallService's result code.
#include "app/process_entry.h"
#include "app/windows_service.h"

int main(int argc, char** argv) {
    const std::vector<std::string> words = sv::CommandLineWords(argc, argv);
    if (words.size() != 2) return 64;
    return sv::InstallService(words[1]);
}
