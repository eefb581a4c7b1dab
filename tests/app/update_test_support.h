#pragma once
// Update packages made in the tests: a small ZIP writer (stored or deflated entries,
// with every header field open to tampering) and a signing key pair.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/sha256_hex.h"
#include "mbedtls/ctr_drbg.h"
#include "mbedtls/ecdsa.h"
#include "mbedtls/entropy.h"
#include "mbedtls/pk.h"
#include "mbedtls/sha256.h"
#include "net/tls_stream.h"
#include "session/tools/file_transfer.h"

namespace sv_test {

inline std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

inline std::vector<uint8_t> RawDeflate(const std::vector<uint8_t>& data) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())) + 16);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct ZipItem {
    std::string name;
    std::vector<uint8_t> data;  // what the entry holds (after compression)
    uint16_t method = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
};

class ZipBuilder {
public:
    // Adds an entry with true sizes and CRC; the returned item may then be altered.
    ZipItem& Add(const std::string& name, const std::vector<uint8_t>& content, bool deflate = false) {
        ZipItem item;
        item.name = name;
        item.method = deflate ? 8 : 0;
        item.data = deflate ? RawDeflate(content) : content;
        item.crc = static_cast<uint32_t>(crc32(0L, content.data(), static_cast<uInt>(content.size())));
        item.compressedSize = static_cast<uint32_t>(item.data.size());
        item.uncompressedSize = static_cast<uint32_t>(content.size());
        items_.push_back(item);
        return items_.back();
    }
    ZipItem& Add(const std::string& name, const std::string& content, bool deflate = false) {
        return Add(name, Bytes(content), deflate);
    }

    std::vector<uint8_t> Build() const {
        std::vector<uint8_t> out, central;
        for (const ZipItem& item : items_) {
            const uint32_t offset = static_cast<uint32_t>(out.size());
            Put32(out, 0x04034b50);
            Put16(out, 20);
            Put16(out, 0);
            Put16(out, item.method);
            Put32(out, 0);
            Put32(out, item.crc);
            Put32(out, item.compressedSize);
            Put32(out, item.uncompressedSize);
            Put16(out, static_cast<uint16_t>(item.name.size()));
            Put16(out, 0);
            out.insert(out.end(), item.name.begin(), item.name.end());
            out.insert(out.end(), item.data.begin(), item.data.end());

            Put32(central, 0x02014b50);
            Put16(central, 20);
            Put16(central, 20);
            Put16(central, 0);
            Put16(central, item.method);
            Put32(central, 0);
            Put32(central, item.crc);
            Put32(central, item.compressedSize);
            Put32(central, item.uncompressedSize);
            Put16(central, static_cast<uint16_t>(item.name.size()));
            Put16(central, 0);
            Put16(central, 0);
            Put16(central, 0);
            Put16(central, 0);
            Put32(central, 0);
            Put32(central, offset);
            central.insert(central.end(), item.name.begin(), item.name.end());
        }
        const uint32_t cdOffset = static_cast<uint32_t>(out.size());
        out.insert(out.end(), central.begin(), central.end());
        Put32(out, 0x06054b50);
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, static_cast<uint16_t>(items_.size()));
        Put16(out, static_cast<uint16_t>(items_.size()));
        Put32(out, static_cast<uint32_t>(central.size()));
        Put32(out, cdOffset);
        Put16(out, 0);
        return out;
    }

private:
    static void Put16(std::vector<uint8_t>& out, uint16_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    }
    static void Put32(std::vector<uint8_t>& out, uint32_t v) {
        Put16(out, static_cast<uint16_t>(v));
        Put16(out, static_cast<uint16_t>(v >> 16));
    }
    std::vector<ZipItem> items_;
};

// A P-256 key pair made for one test.
class TestSigner {
public:
    TestSigner() {
        // The entropy source takes its mutex through the locks the program installs first.
        sv::InstallTlsThreadingLocks();
        mbedtls_entropy_init(&entropy_);
        mbedtls_ctr_drbg_init(&drbg_);
        mbedtls_pk_init(&pk_);
        mbedtls_ctr_drbg_seed(&drbg_, mbedtls_entropy_func, &entropy_, nullptr, 0);
        mbedtls_pk_setup(&pk_, mbedtls_pk_info_from_type(MBEDTLS_PK_ECKEY));
        mbedtls_ecp_gen_key(MBEDTLS_ECP_DP_SECP256R1, mbedtls_pk_ec(pk_), mbedtls_ctr_drbg_random, &drbg_);
    }
    ~TestSigner() {
        mbedtls_pk_free(&pk_);
        mbedtls_ctr_drbg_free(&drbg_);
        mbedtls_entropy_free(&entropy_);
    }
    std::string PublicKeyBase64() {
        uint8_t der[256];
        int n = mbedtls_pk_write_pubkey_der(&pk_, der, sizeof(der));
        return n > 0 ? sv::EncodeBase64(der + sizeof(der) - n, static_cast<size_t>(n)) : std::string();
    }
    std::vector<uint8_t> Sign(const std::string& message) {
        uint8_t digest[32];
        mbedtls_sha256(reinterpret_cast<const uint8_t*>(message.data()), message.size(), digest, 0);
        uint8_t sig[MBEDTLS_ECDSA_MAX_LEN];
        size_t len = 0;
        mbedtls_ecdsa_write_signature(mbedtls_pk_ec(pk_), MBEDTLS_MD_SHA256, digest, 32, sig, sizeof(sig), &len,
                                      mbedtls_ctr_drbg_random, &drbg_);
        return std::vector<uint8_t>(sig, sig + len);
    }
    std::string SignBase64(const std::string& message) {
        std::vector<uint8_t> sig = Sign(message);
        return sv::EncodeBase64(sig.data(), sig.size());
    }

private:
    mbedtls_entropy_context entropy_;
    mbedtls_ctr_drbg_context drbg_;
    mbedtls_pk_context pk_;
};

}  // namespace sv_test
