#include "app/update_package.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>

#include "app/zip_reader.h"
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

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string FoldCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), FoldAscii);
    return text;
}

// Windows opens these names as devices in any folder and with any extension.
bool IsDeviceName(const std::string& step) {
    std::string base = FoldCase(step.substr(0, step.find('.')));
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

std::string SafePackageFileName(const std::string& entryName) {
    std::string name = entryName;
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.empty() || name.front() == '/' || name.find("..") != std::string::npos) return std::string();
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || std::string(":*?\"<>|").find(static_cast<char>(c)) != std::string::npos) {
            return std::string();
        }
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t slash = name.find('/', start);
        if (slash == std::string::npos) slash = name.size();
        if (IsDeviceName(name.substr(start, slash - start))) return std::string();
        start = slash + 1;
    }
    return name;
}

namespace {

bool ReadPackage(const std::vector<uint8_t>& package, const std::string& keyBase64, std::vector<PackageFile>& files,
                 std::string& error) {
    ZipReader zip(package.data(), package.size(), kMaxUnpackedUpdateBytes);
    if (!zip.Open(error)) return false;
    if (zip.Entries().empty()) return Fail(error, "empty archive");

    std::vector<uint8_t> manifest, signatureText;
    for (const ZipEntry& entry : zip.Entries()) {
        std::vector<uint8_t>* target = entry.name == kManifestName    ? &manifest
                                       : entry.name == kSignatureName ? &signatureText
                                                                      : nullptr;
        if (target == nullptr) continue;
        // A second copy could be the one another reader picks.
        if (!target->empty()) return Fail(error, "manifest or signature twice");
        if (!zip.Extract(entry, *target, error)) return false;
    }
    if (manifest.empty() || signatureText.empty()) return Fail(error, "manifest or signature missing");
    std::vector<uint8_t> signature = DecodeBase64(std::string(signatureText.begin(), signatureText.end()));
    uint8_t digest[32];
    mbedtls_sha256(manifest.data(), manifest.size(), digest, 0);
    if (!VerifyUpdateSignature(keyBase64, digest, signature)) return Fail(error, "bad signature");

    nlohmann::json listed = nlohmann::json::parse(manifest.begin(), manifest.end(), nullptr, false);
    if (listed.is_discarded() || !listed.is_object()) return Fail(error, "manifest is not a JSON object");
    if (listed.contains(kManifestName) || listed.contains(kSignatureName)) {
        return Fail(error, "manifest lists itself or the signature");
    }

    std::set<std::string> written, foldedNames;
    for (const ZipEntry& entry : zip.Entries()) {
        if (entry.isDirectory || entry.name == kManifestName || entry.name == kSignatureName) continue;
        PackageFile file;
        file.name = SafePackageFileName(entry.name);
        if (file.name.empty()) return Fail(error, "unsafe entry name");
        // Windows names ignore case: two such entries would land on one file.
        if (!foldedNames.insert(FoldCase(file.name)).second) return Fail(error, "entry twice: " + file.name);
        auto it = listed.find(file.name);
        if (it == listed.end() || !it->is_string()) return Fail(error, "entry not in the manifest: " + file.name);
        if (!zip.Extract(entry, file.data, error)) return false;
        if (Sha256Hex(file.data.data(), file.data.size()) != it->get<std::string>()) {
            return Fail(error, "digest mismatch: " + file.name);
        }
        written.insert(file.name);
        files.push_back(std::move(file));
    }
    for (auto it = listed.begin(); it != listed.end(); ++it) {
        if (written.count(it.key()) == 0) return Fail(error, "listed file missing: " + it.key());
    }
    return true;
}

}  // namespace

bool ReadVerifiedPackage(const std::vector<uint8_t>& package, const std::string& keyBase64,
                         std::vector<PackageFile>& files, std::string& error) {
    files.clear();
    if (ReadPackage(package, keyBase64, files, error)) return true;
    files.clear();
    return false;
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
