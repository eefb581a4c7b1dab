#pragma once
// What a CA file holds, as a connection will read it. A connection reads the file again
// at every connect and refuses it unless every certificate in it parses (TlsStream);
// checking the same once at start turns a file that can never work into one line there,
// instead of a failed connect every few seconds. Plain logic over Mbed TLS's parser.
#include <string>

struct mbedtls_x509_crt;

namespace sv {

// Parses a CA file's contents (PEM or DER) into `chain`, as every connect does; Mbed TLS's
// result: 0 when every certificate parsed.
int ParseCaBundle(mbedtls_x509_crt& chain, const std::string& contents);

struct CaBundleCount {
    int certificates = 0;  // parsed
    int unreadable = 0;    // found but not parsed, when others parsed
    // What a connection needs: at least one certificate and none it cannot read.
    bool Usable() const { return certificates > 0 && unreadable == 0; }
};

// The file's contents as read (PEM or DER), parsed as a connect parses them.
CaBundleCount CountCaCertificates(const std::string& contents);

}  // namespace sv
