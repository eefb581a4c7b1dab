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

TEST(RelaySettingsCheck, CaFiles) {
    const std::map<std::string, std::string> files = {{"good.pem", "-----BEGIN CERTIFICATE-----\n"},
                                                      {"empty.pem", ""}};
    const sv::WholeFileReader read = [&](const std::string& path, std::string& contents) {
        auto it = files.find(path);
        if (it == files.end()) return false;
        contents = it->second;
        return true;
    };
    EXPECT_EQ(sv::CaBundleProblem("good.pem", read), "");
    const std::string missing = sv::CaBundleProblem("C:\\nowhere\\ca.pem", read);
    EXPECT_NE(missing.find("\"C:\\nowhere\\ca.pem\" cannot be read"), std::string::npos) << missing;
    const std::string empty = sv::CaBundleProblem("empty.pem", read);
    EXPECT_NE(empty.find("\"empty.pem\" is empty"), std::string::npos) << empty;
}

}  // namespace
