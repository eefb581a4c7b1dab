#include "app/update_staging.h"

#include <windows.h>

#include <algorithm>

#include "app/update_package.h"
#include "base/file_io.h"
#include "base/text_encoding.h"

namespace sv {

bool UnpackVerifiedUpdate(const std::vector<uint8_t>& package, const std::string& stagingDir,
                          const std::string& keyBase64) {
    std::vector<PackageFile> files;
    std::string error;
    if (!ReadVerifiedPackage(package, keyBase64, files, error)) return false;

    // Files left from an earlier package would be applied along with this one.
    if (PathExists(stagingDir) && !RemoveDirectoryTree(stagingDir)) return false;
    EnsureDirectory(stagingDir);
    if (!IsDirectory(stagingDir)) return false;
    for (const PackageFile& file : files) {
        std::string relative = file.name;
        std::replace(relative.begin(), relative.end(), '/', '\\');
        const std::string path = JoinDataPath(stagingDir, relative);
        // WriteTextFile creates the parent folders and reports a failed open, write or
        // close; the file appears under its name only once written whole.
        if (!WriteTextFile(path, std::string(file.data.begin(), file.data.end()))) {
            RemoveDirectoryTree(stagingDir);
            return false;
        }
    }
    return true;
}

std::string GetOwnExePath() {
    for (DWORD capacity = 520; capacity <= 32768; capacity *= 4) {
        std::wstring buffer(capacity, L'\0');
        DWORD n = GetModuleFileNameW(nullptr, &buffer[0], capacity);
        if (n == 0) return std::string();
        if (n < capacity) {
            buffer.resize(n);
            return Utf16ToUtf8(buffer);
        }
    }
    return std::string();
}

}  // namespace sv
