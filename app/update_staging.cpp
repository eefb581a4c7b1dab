#include "app/update_staging.h"

#include <windows.h>

#include <algorithm>
#include <new>

#include "base/file_io.h"
#include "base/sha256_hex.h"
#include "base/text_encoding.h"

namespace sv {

std::string StagedPath(const std::string& dir, const std::string& name) {
    std::string relative = name;
    std::replace(relative.begin(), relative.end(), '/', '\\');
    return JoinDataPath(dir, relative);
}

bool UnpackVerifiedUpdate(const std::vector<uint8_t>& package, const std::string& stagingDir,
                          const std::string& keyBase64) {
    VerifiedPackage verified;
    std::string error;
    try {
        if (!ReadVerifiedPackage(package, keyBase64, verified, error)) return false;
    } catch (const std::bad_alloc&) {
        return false;
    }

    // Files left from an earlier package would be applied along with this one.
    if (PathExists(stagingDir) && !RemoveDirectoryTree(stagingDir)) return false;
    EnsureDirectory(stagingDir);
    if (!IsDirectory(stagingDir)) return false;
    // The manifest and its signature go with the files: the installer checks them again.
    bool ok = WriteTextFile(JoinDataPath(stagingDir, kManifestName), verified.manifest) &&
              WriteTextFile(JoinDataPath(stagingDir, kSignatureName), verified.signature);
    for (size_t i = 0; ok && i < verified.files.size(); ++i) {
        const PackageFile& file = verified.files[i];
        // WriteTextFile creates the parent folders and reports a failed open, write or
        // close; the file appears under its name only once written whole.
        ok = WriteTextFile(StagedPath(stagingDir, file.name), std::string(file.data.begin(), file.data.end()));
    }
    if (!ok) RemoveDirectoryTree(stagingDir);
    return ok;
}

bool ReadStagedManifest(const std::string& stagingDir, const std::string& keyBase64, UpdateManifest& listed,
                        std::string& error) {
    std::string manifest, signature;
    if (!ReadWholeFile(JoinDataPath(stagingDir, kManifestName), manifest, kMaxManifestBytes) ||
        !ReadWholeFile(JoinDataPath(stagingDir, kSignatureName), signature, kMaxManifestBytes)) {
        error = "no staged manifest";
        return false;
    }
    return ReadSignedManifest(manifest, signature, keyBase64, listed, error);
}

bool ReadStagedFile(const std::string& stagingDir, const std::string& name, const std::string& digest,
                    std::string& bytes, std::string& error) {
    if (!ReadWholeFile(StagedPath(stagingDir, name), bytes, kMaxUnpackedUpdateBytes)) {
        error = "cannot read staged " + name;
        return false;
    }
    if (Sha256Hex(bytes) != digest) {
        bytes.clear();
        error = "staged file changed: " + name;
        return false;
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
