#pragma once
// An update package: a ZIP archive whose "_manifest.json" maps every file's name to
// its SHA-256 (64 lowercase hex digits) and whose "_manifest.sig" holds, in Base64, an
// ECDSA P-256 signature (DER) over the SHA-256 of the manifest's exact bytes.
// Everything here works in memory; app/update_staging.h writes a verified package out.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sv {

constexpr char kManifestName[] = "_manifest.json";
constexpr char kSignatureName[] = "_manifest.sig";

// The most a package may unpack to, all files together (the host is one executable
// and a few small files).
constexpr uint64_t kMaxUnpackedUpdateBytes = 256ull << 20;
// The manifest and the signature are read before anything is verified: an unsigned
// package may not make the host inflate more than this for either.
constexpr uint32_t kMaxManifestBytes = 1u << 20;

// True when `signature` (DER) is a valid ECDSA signature of the 32-byte `digest` under
// the public key `keyBase64` (SubjectPublicKeyInfo DER in Base64).
bool VerifyUpdateSignature(const std::string& keyBase64, const uint8_t* digest, const std::vector<uint8_t>& signature);

// A file name inside a package as it will stand under the staging folder: backslashes
// turned into slashes. Empty when the name may not be written: empty, absolute ("/",
// "\", a drive or stream ":"), ".." anywhere, control or reserved characters, or a
// path step that Windows would open as a device ("con", "nul", "com1", ...). Also empty
// for every name Windows could open as another name's file: an empty or "." step, a
// step ending in a dot or a space (both dropped by Windows), a step shaped like a short
// name ("~" and a digit), and any byte outside ASCII (whose case folding is the file
// system's own); ASCII names then alias only when they differ in case.
std::string SafePackageFileName(const std::string& entryName);

// A signed manifest: each file's name (as SafePackageFileName gives it) to its digest.
using UpdateManifest = std::map<std::string, std::string>;

// Checks the signature over the manifest's exact bytes and reads it: an object whose
// every name is safe, names no file twice in any case, lists neither the manifest nor
// the signature, and maps to a string. The installer reads the staged copy through this
// again, so what it installs is what was signed.
bool ReadSignedManifest(const std::string& manifest, const std::string& signatureBase64,
                        const std::string& keyBase64, UpdateManifest& listed, std::string& error);

struct PackageFile {
    std::string name;  // as SafePackageFileName gives it
    std::vector<uint8_t> data;
};

struct VerifiedPackage {
    std::string manifest;   // the signed bytes of "_manifest.json"
    std::string signature;  // the Base64 text of "_manifest.sig"
    std::vector<PackageFile> files;
};

// Verifies the package: signature, manifest, every file against its digest, every
// listed file present and nothing unlisted. On success `files` holds the files to
// stage; on failure `error` says why and `files` is empty.
bool ReadVerifiedPackage(const std::vector<uint8_t>& package, const std::string& keyBase64,
                         std::vector<PackageFile>& files, std::string& error);
// The same, keeping the manifest and its signature to be staged with the files.
bool ReadVerifiedPackage(const std::vector<uint8_t>& package, const std::string& keyBase64, VerifiedPackage& out,
                         std::string& error);

// Signs a fixed manifest with a freshly generated key and verifies it.
bool UpdateSelfTest();

}  // namespace sv
