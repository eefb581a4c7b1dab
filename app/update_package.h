#pragma once
// An update package: a ZIP archive whose "_manifest.json" maps every file's name to
// its SHA-256 (64 lowercase hex digits) and whose "_manifest.sig" holds, in Base64, an
// ECDSA P-256 signature (DER) over the SHA-256 of the manifest's exact bytes.
// Everything here works in memory; app/update_staging.h writes a verified package out.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sv {

constexpr char kManifestName[] = "_manifest.json";
constexpr char kSignatureName[] = "_manifest.sig";

// The most a package may unpack to, all files together (the host is one executable
// and a few small files).
constexpr uint64_t kMaxUnpackedUpdateBytes = 256ull << 20;

// True when `signature` (DER) is a valid ECDSA signature of the 32-byte `digest` under
// the public key `keyBase64` (SubjectPublicKeyInfo DER in Base64).
bool VerifyUpdateSignature(const std::string& keyBase64, const uint8_t* digest, const std::vector<uint8_t>& signature);

// A file name inside a package as it will stand under the staging folder: backslashes
// turned into slashes. Empty when the name may not be written: empty, absolute ("/",
// "\", a drive or stream ":"), ".." anywhere, control or reserved characters, or a
// path step that Windows would open as a device ("con", "nul", "com1", ...).
std::string SafePackageFileName(const std::string& entryName);

struct PackageFile {
    std::string name;  // as SafePackageFileName gives it
    std::vector<uint8_t> data;
};

// Verifies the package: signature, manifest, every file against its digest, every
// listed file present and nothing unlisted. On success `files` holds the files to
// stage; on failure `error` says why and `files` is empty.
bool ReadVerifiedPackage(const std::vector<uint8_t>& package, const std::string& keyBase64,
                         std::vector<PackageFile>& files, std::string& error);

// Signs a fixed manifest with a freshly generated key and verifies it.
bool UpdateSelfTest();

}  // namespace sv
