// File names a controller gives an upload: whatever it sends, one plain name that stays
// inside the folder it is joined to.
#include <cstdint>
#include <string>

#include "session/tools/upload_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    const std::string safe = sv::SafeUploadName(name);
    if (safe.empty() || safe == "." || safe == "..") __builtin_trap();
    if (safe.find_first_of("/\\:<>\"|?*") != std::string::npos) __builtin_trap();
    for (unsigned char c : safe) {
        if (c < 0x20) __builtin_trap();
    }
    if (sv::IsReservedDeviceName(safe)) __builtin_trap();
    if (safe.back() == '.' || safe.back() == ' ') __builtin_trap();
    // Numbering a safe name keeps it safe.
    const std::string numbered = sv::NumberedName(safe, 2);
    if (numbered.find_first_of("/\\") != std::string::npos) __builtin_trap();
    std::string stem, extension;
    sv::SplitStemExtension(name, stem, extension);
    if (stem + extension != name) __builtin_trap();
    sv::LastPathComponent(name);
    return 0;
}
