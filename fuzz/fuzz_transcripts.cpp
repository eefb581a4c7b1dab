// A stored transcript, as the agent reads it back for a controller: whatever the file
// holds (it may have been edited or cut short), the lines that parse and no more.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "training/transcript_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string dir = [] {
        // Memory-backed when the system has it: one file write and read per input.
        std::filesystem::path base = std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                                : std::filesystem::temp_directory_path();
        std::string d = (base / ("sv-fuzz-transcripts-" + std::to_string(getpid()))).string();
        return d;
    }();
    // Made and removed around every input: libFuzzer ends a timed run without clean-up.
    std::filesystem::create_directories(dir);
    {
        std::ofstream out(dir + "/20240101-000000-abcdef.jsonl", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    auto lines = sv::training::ReadTranscript(dir, "20240101-000000-abcdef");
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    if (!lines || lines->size() > sv::training::TranscriptWriter::kMaxEntries) __builtin_trap();
    // The id a controller names is checked before any path is made from it.
    sv::training::IsSafeSessionId(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
