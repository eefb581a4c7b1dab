#include "net/ca_bundle.h"

#include "mbedtls/x509_crt.h"

namespace sv {

int ParseCaBundle(mbedtls_x509_crt& chain, const std::string& contents) {
    // With its terminating NUL: PEM is only recognised so.
    return mbedtls_x509_crt_parse(&chain, reinterpret_cast<const unsigned char*>(contents.c_str()),
                                  contents.size() + 1);
}

CaBundleCount CountCaCertificates(const std::string& contents) {
    mbedtls_x509_crt chain;
    mbedtls_x509_crt_init(&chain);
    const int ret = ParseCaBundle(chain, contents);
    CaBundleCount count;
    for (const mbedtls_x509_crt* c = &chain; c != nullptr && c->raw.len > 0; c = c->next) ++count.certificates;
    mbedtls_x509_crt_free(&chain);
    // A positive result counts the certificates that failed beside good ones; a negative
    // one means none parsed (or parsing stopped), which no connection accepts either.
    if (ret > 0) count.unreadable = ret;
    if (ret < 0 && count.certificates > 0) count.unreadable = 1;
    return count;
}

}  // namespace sv
