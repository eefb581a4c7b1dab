// Process entry: a GUI-subsystem program entered through an ordinary main.
#include "app/process_entry.h"

int main(int argc, char** argv) { return sv::RunHostProcess(sv::CommandLineWords(argc, argv)); }
