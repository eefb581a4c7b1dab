#include "app/relay_settings_check.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

TEST(RelaySettingsCheck, RelayAddresses) {
    struct Row {
        const char* url;
        const char* problem;  // a piece of the line; nullptr: usable
        bool tls;
    };
    const Row rows[] = {
        {"wss://relay.example.com/", nullptr, true},
        {"wss://relay.example.com:8443/ws", nullptr, true},
        {"ws://127.0.0.1:9000/", nullptr, false},
        {"ws://localhost:9000", nullptr, false},
        {"junk", "must begin with wss://", false},
        {"http://relay.example.com/", "must begin with wss://", false},
        {"https://relay.example.com/", "must begin with wss://", false},
        {"WSS://relay.example.com/", "must begin with wss://", false},
        {"", "must begin with wss://", false},
        {"wss://", "names no host", false},
        {"wss:///path", "names no host", false},
        {"wss://:443/", "names no host", false},
        {"wss://relay.example.com:99999/", "port is not a number", false},
        {"wss://relay.example.com:0/", "port is not a number", false},
        {"wss://relay.example.com:/", "port is not a number", false},
        // A plain connection is only ever made to this computer.
        {"ws://relay.example.com/", "only reaches this computer", false},
        {"ws://10.0.0.5:80/", "only reaches this computer", false},
    };
    for (const Row& row : rows) {
        const std::string problem = sv::RelayUrlProblem(row.url);
        if (row.problem == nullptr) {
            EXPECT_EQ(problem, "") << row.url;
        } else {
            EXPECT_NE(problem.find(row.problem), std::string::npos) << row.url << ": " << problem;
            // The line names the value, so the person sees what they typed.
            EXPECT_NE(problem.find(std::string("\"") + row.url + "\""), std::string::npos) << problem;
            EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
        }
        EXPECT_EQ(sv::RelayUrlUsesTls(row.url), row.tls) << row.url;
    }
}

// A self-signed CA certificate (P-256), as a CA file holds it.
const char kCertificate[] =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIBfDCCASGgAwIBAgIUaZgbjR4sSRdCA4qONmnedtJLncgwCgYIKoZIzj0EAwIw\n"
    "EjEQMA4GA1UEAwwHVGVzdCBDQTAgFw0yNjEyMDgwODAxNTNaGA8yMTI2MTExNDA4\n"
    "MDE1M1owEjEQMA4GA1UEAwwHVGVzdCBDQTBZMBMGByqGSM49AgEGCCqGSM49AwEH\n"
    "A0IABLIRN7/GnlrOHYXnAfiOUTT4qBF8eSbNJIN5T6fqDEjCKLkoipw5dKGLAA/G\n"
    "U/ATtQbYvvMKb82bPhD4u1vRgwSjUzBRMB0GA1UdDgQWBBQ3iJYDaS/rwhB/b+Dr\n"
    "JnWlRmbKfjAfBgNVHSMEGDAWgBQ3iJYDaS/rwhB/b+DrJnWlRmbKfjAPBgNVHRMB\n"
    "Af8EBTADAQH/MAoGCCqGSM49BAMCA0kAMEYCIQCnQH58KoiH2/9B9rMnNE4PuKKF\n"
    "dWEuA/TrrnKoq4dvDAIhANzjx7scejL+2ahWAdHcQv8VOgBa34vXr/3OH4kAJFa6\n"
    "-----END CERTIFICATE-----\n";

// The start refuses what every connect would: a file that cannot be read, is empty,
// holds no certificate, or holds one that cannot be parsed beside good ones.
TEST(RelaySettingsCheck, CaFiles) {
    const std::string cert = kCertificate;
    const std::string broken = "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n";
    const std::map<std::string, std::string> files = {
        {"good.pem", cert}, {"two.pem", cert + cert}, {"empty.pem", ""}, {"hello.pem", "hello"},
        {"pem-junk.pem", broken}, {"mixed.pem", cert + broken},
    };
    const sv::WholeFileReader read = [&](const std::string& path, std::string& contents) {
        auto it = files.find(path);
        if (it == files.end()) return false;
        contents = it->second;
        return true;
    };
    const struct {
        const char* path;
        const char* problem;  // a piece of the line; nullptr: usable
    } rows[] = {
        {"good.pem", nullptr},
        {"two.pem", nullptr},
        {"C:\\nowhere\\ca.pem", "\"C:\\nowhere\\ca.pem\" cannot be read"},
        {"empty.pem", "\"empty.pem\" is empty"},
        {"hello.pem", "\"hello.pem\" holds no certificate"},
        {"pem-junk.pem", "\"pem-junk.pem\" holds no certificate"},
        {"mixed.pem", "\"mixed.pem\" holds 1 certificate(s) that cannot be read"},
    };
    for (const auto& row : rows) {
        const std::string problem = sv::CaBundleProblem(row.path, read);
        if (row.problem == nullptr) {
            EXPECT_EQ(problem, "") << row.path;
            continue;
        }
        EXPECT_NE(problem.find(row.problem), std::string::npos) << problem;
        EXPECT_NE(problem.find("--cacert"), std::string::npos) << problem;
    }
}

}  // namespace
