// An update package's bytes as the updater receives them: the central directory read,
// every entry extracted under a small inflate budget, every entry name checked as the
// stager checks it, and the whole package verified (which no fuzzed input can pass).
#include <cstdint>
#include <string>
#include <vector>

#include "app/update_package.h"
#include "app/zip_reader.h"
#include "session/tools/upload_names.h"

namespace {

// A name the stager accepts stays under the staging folder and names no device.
void CheckStagedName(const std::string& name) {
    if (name.empty()) return;
    if (name[0] == '/' || name.find('\\') != std::string::npos || name.find(':') != std::string::npos) {
        __builtin_trap();
    }
    size_t start = 0;
    for (;;) {
        size_t end = name.find('/', start);
        std::string step = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (step == ".." || sv::IsReservedDeviceName(step)) __builtin_trap();
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr uint64_t kBudget = 1 << 20;
    sv::ZipReader zip(data, size, kBudget);
    std::string error;
    if (zip.Open(error)) {
        uint64_t extracted = 0;
        for (const sv::ZipEntry& entry : zip.Entries()) {
            CheckStagedName(sv::SafePackageFileName(entry.name));
            std::vector<uint8_t> out;
            if (zip.Extract(entry, out, error)) {
                if (out.size() != entry.uncompressedSize) __builtin_trap();
                extracted += out.size();
            }
        }
        if (extracted > kBudget) __builtin_trap();
    }
    static const std::string key =
        "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE9njr72Kp2JtN53KGJwjY5UFS9z+EzaTI4r4XbB7vDAsLdeZ/273ahG0k0GE1SOsAmaXS8fclFLDCGdO01UrTRw==";
    std::vector<sv::PackageFile> files;
    if (sv::ReadVerifiedPackage(std::vector<uint8_t>(data, data + size), key, files, error)) __builtin_trap();
    // Entry names straight from the input as well.
    CheckStagedName(sv::SafePackageFileName(std::string(reinterpret_cast<const char*>(data), size)));
    return 0;
}
