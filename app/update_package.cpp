#include "app/update_package.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>

#include "app/zip_reader.h"
#include "base/case_fold.h"
#include "base/sha256_hex.h"
#include "mbedtls/ctr_drbg.h"
#include "mbedtls/ecdsa.h"
#include "mbedtls/entropy.h"
#include "mbedtls/pk.h"
#include "mbedtls/sha256.h"
#include "session/tools/file_transfer.h"

namespace sv {
namespace {

bool Fail(std::string& error, const std::string& why) {
    error = why;
    return false;
}

// Windows opens these names as devices in any folder and with any extension.
bool IsDeviceName(const std::string& step) {
    std::string base = AsciiLower(step.substr(0, step.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : kDevices) {
        if (base == device) return true;
    }
    if (base.size() < 4 || (base.compare(0, 3, "com") != 0 && base.compare(0, 3, "lpt") != 0)) return false;
    // Every digit, zero included, and the superscript one, two and three name devices too.
    const std::string digit = base.substr(3);
    return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" ||
           digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

}  // namespace

bool VerifyUpdateSignature(const std::string& keyBase64, const uint8_t* digest,
                           const std::vector<uint8_t>& signature) {
    if (digest == nullptr || signature.empty()) return false;
    std::vector<uint8_t> der = DecodeBase64(keyBase64);
    if (der.empty()) return false;
    mbedtls_pk_context pk;
    mbedtls_pk_init(&pk);
    bool valid = mbedtls_pk_parse_public_key(&pk, der.data(), der.size()) == 0 &&
                 mbedtls_pk_can_do(&pk, MBEDTLS_PK_ECDSA) &&
                 mbedtls_ecdsa_read_signature(mbedtls_pk_ec(pk), digest, 32, signature.data(), signature.size()) == 0;
    mbedtls_pk_free(&pk);
    return valid;
}

namespace {

// A step Windows would open as some other step's file, or never as written.
bool IsAliasingStep(const std::string& step) {
    if (step.empty() || step == ".") return true;
    if (step.back() == '.' || step.back() == ' ') return true;
    for (size_t i = 0; i + 1 < step.size(); ++i) {
        if (step[i] == '~' && step[i + 1] >= '0' && step[i + 1] <= '9') return true;
    }
    return false;
}

}  // namespace

std::string SafePackageFileName(const std::string& entryName) {
    std::string name = entryName;
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.empty() || name.front() == '/' || name.find("..") != std::string::npos) return std::string();
    for (unsigned char c : name) {
        if (c < 0x20 || c >= 0x7F || std::string(":*?\"<>|").find(static_cast<char>(c)) != std::string::npos) {
            return std::string();
        }
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t slash = name.find('/', start);
        if (slash == std::string::npos) slash = name.size();
        const std::string step = name.substr(start, slash - start);
        if (IsDeviceName(step) || IsAliasingStep(step)) return std::string();
        start = slash + 1;
    }
    return name;
}

bool ReadSignedManifest(const std::string& manifest, const std::string& signatureBase64,
                        const std::string& keyBase64, UpdateManifest& listed, std::string& error) {
    listed.clear();
    if (manifest.empty() || signatureBase64.empty()) return Fail(error, "manifest or signature missing");
    const std::vector<uint8_t> signature = DecodeBase64(signatureBase64);
    uint8_t digest[32];
    mbedtls_sha256(reinterpret_cast<const uint8_t*>(manifest.data()), manifest.size(), digest, 0);
    if (!VerifyUpdateSignature(keyBase64, digest, signature)) return Fail(error, "bad signature");

    nlohmann::json object = nlohmann::json::parse(manifest, nullptr, false);
    if (object.is_discarded() || !object.is_object()) return Fail(error, "manifest is not a JSON object");
    if (object.contains(kManifestName) || object.contains(kSignatureName)) {
        return Fail(error, "manifest lists itself or the signature");
    }
    std::set<std::string> folded;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (SafePackageFileName(it.key()) != it.key()) return Fail(error, "unsafe entry name");
        // Windows names ignore case: two such names would land on one file.
        if (!folded.insert(AsciiLower(it.key())).second) return Fail(error, "one file named twice: " + it.key());
        if (!it->is_string()) return Fail(error, "no digest for " + it.key());
        listed[it.key()] = it->get<std::string>();
    }
    return true;
}

namespace {

bool ReadPackage(const std::vector<uint8_t>& package, const std::string& keyBase64, VerifiedPackage& out,
                 std::string& error) {
    ZipReader zip(package.data(), package.size(), kMaxUnpackedUpdateBytes);
    if (!zip.Open(error)) return false;
    if (zip.Entries().empty()) return Fail(error, "empty archive");

    bool seenManifest = false, seenSignature = false;
    for (const ZipEntry& entry : zip.Entries()) {
        const bool isManifest = entry.name == kManifestName;
        if (!isManifest && entry.name != kSignatureName) continue;
        bool& seen = isManifest ? seenManifest : seenSignature;
        // A second copy could be the one another reader picks, an empty first one too.
        if (seen) return Fail(error, "manifest or signature twice");
        seen = true;
        if (entry.uncompressedSize > kMaxManifestBytes) return Fail(error, "manifest or signature too large");
        std::vector<uint8_t> bytes;
        if (!zip.Extract(entry, bytes, error)) return false;
        (isManifest ? out.manifest : out.signature).assign(bytes.begin(), bytes.end());
    }
    UpdateManifest listed;
    if (!ReadSignedManifest(out.manifest, out.signature, keyBase64, listed, error)) return false;

    std::set<std::string> written;
    for (const ZipEntry& entry : zip.Entries()) {
        if (entry.isDirectory || entry.name == kManifestName || entry.name == kSignatureName) continue;
        PackageFile file;
        file.name = SafePackageFileName(entry.name);
        if (file.name.empty()) return Fail(error, "unsafe entry name");
        if (!written.insert(file.name).second) return Fail(error, "entry twice: " + file.name);
        auto it = listed.find(file.name);
        if (it == listed.end()) return Fail(error, "entry not in the manifest: " + file.name);
        if (!zip.Extract(entry, file.data, error)) return false;
        if (Sha256Hex(file.data.data(), file.data.size()) != it->second) {
            return Fail(error, "digest mismatch: " + file.name);
        }
        out.files.push_back(std::move(file));
    }
    for (const auto& item : listed) {
        if (written.count(item.first) == 0) return Fail(error, "listed file missing: " + item.first);
    }
    return true;
}

}  // namespace

bool ReadVerifiedPackage(const std::vector<uint8_t>& package, const std::string& keyBase64, VerifiedPackage& out,
                         std::string& error) {
    out = VerifiedPackage();
    if (ReadPackage(package, keyBase64, out, error)) return true;
    out = VerifiedPackage();
    return false;
}

bool ReadVerifiedPackage(const std::vector<uint8_t>& package, const std::string& keyBase64,
                         std::vector<PackageFile>& files, std::string& error) {
    VerifiedPackage verified;
    const bool ok = ReadVerifiedPackage(package, keyBase64, verified, error);
    files = std::move(verified.files);
    return ok;
}

bool UpdateSelfTest() {
    static const char kPersonalisation[] = "update-self-test";
    const std::string manifest = "{\"a.txt\":\"" + std::string(64, '0') + "\"}";
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
    mbedtls_pk_context pk;
    mbedtls_entropy_init(&entropy);
    mbedtls_ctr_drbg_init(&drbg);
    mbedtls_pk_init(&pk);
    bool pass = false;
    uint8_t digest[32];
    uint8_t signature[MBEDTLS_ECDSA_MAX_LEN];
    size_t signatureLength = 0;
    uint8_t der[256];
    if (mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy,
                              reinterpret_cast<const unsigned char*>(kPersonalisation), 16) == 0 &&
        mbedtls_pk_setup(&pk, mbedtls_pk_info_from_type(MBEDTLS_PK_ECKEY)) == 0 &&
        mbedtls_ecp_gen_key(MBEDTLS_ECP_DP_SECP256R1, mbedtls_pk_ec(pk), mbedtls_ctr_drbg_random, &drbg) == 0 &&
        mbedtls_sha256(reinterpret_cast<const unsigned char*>(manifest.data()), manifest.size(), digest, 0) == 0 &&
        mbedtls_ecdsa_write_signature(mbedtls_pk_ec(pk), MBEDTLS_MD_SHA256, digest, sizeof(digest), signature,
                                      sizeof(signature), &signatureLength, mbedtls_ctr_drbg_random, &drbg) == 0) {
        // The key is written at the end of the buffer.
        int length = mbedtls_pk_write_pubkey_der(&pk, der, sizeof(der));
        if (length > 0) {
            std::string key = EncodeBase64(der + sizeof(der) - length, static_cast<size_t>(length));
            pass = VerifyUpdateSignature(key, digest,
                                         std::vector<uint8_t>(signature, signature + signatureLength));
        }
    }
    mbedtls_pk_free(&pk);
    mbedtls_ctr_drbg_free(&drbg);
    mbedtls_entropy_free(&entropy);
    return pass;
}

}  // namespace sv
