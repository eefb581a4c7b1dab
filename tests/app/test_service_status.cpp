#include "app/service_status.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// Steps: 'R' running, 'S' stop control, 'D' shutdown control, 'I' interrogate (4),
// 'X' stopped, 'C' stopped with the service's code 7. The result lists the states
// reported, which controls asked for a stop, and the exit codes that came with STOPPED.
struct Outcome {
    std::vector<uint32_t> states;
    std::string stops;
    std::string exitCodes;
};

Outcome Play(const std::string& steps) {
    Outcome run;
    sv::ServiceStatusSequence sequence([&run](const sv::ServiceStatusRecord& r) {
        EXPECT_EQ(r.type, sv::kServiceOwnProcess);
        EXPECT_EQ(r.controlsAccepted, r.state == sv::kServiceStopped ? 0u : sv::kServiceAcceptStopAndShutdown);
        run.states.push_back(r.state);
        if (r.state == sv::kServiceStopped) {
            run.exitCodes += std::to_string(r.win32ExitCode) + "/" + std::to_string(r.serviceExitCode);
        } else {
            EXPECT_EQ(r.win32ExitCode + r.serviceExitCode, 0u);
        }
    });
    for (char c : steps) {
        switch (c) {
        case 'R': sequence.ReportRunning(); break;
        case 'S': run.stops += sequence.OnControl(sv::kServiceControlStop) ? 'y' : 'n'; break;
        case 'D': run.stops += sequence.OnControl(sv::kServiceControlShutdown) ? 'y' : 'n'; break;
        case 'I': run.stops += sequence.OnControl(4) ? 'y' : 'n'; break;
        case 'X': sequence.ReportStopped(); break;
        case 'C': sequence.ReportStoppedWithCode(7); break;
        }
    }
    return run;
}

}  // namespace

TEST(ServiceStatus, ReportsFollowTheOneSequence) {
    const uint32_t R = sv::kServiceRunning, P = sv::kServiceStopPending, X = sv::kServiceStopped;
    struct Case {
        const char* steps;
        std::vector<uint32_t> states;
        const char* stops;
        const char* exitCodes;
    } cases[] = {
        {"RSX", {R, P, X}, "y", "0/0"},
        {"RDX", {R, P, X}, "y", "0/0"},
        {"RX", {R, X}, "", "0/0"},           // the host-run task ended by itself
        {"RIX", {R, X}, "n", "0/0"},         // other controls change nothing
        {"RXS", {R, X}, "n", "0/0"},         // a stop after STOPPED reports nothing and stops nothing
        {"RSXX", {R, P, X}, "y", "0/0"},     // STOPPED once
        {"SRX", {P, X}, "y", "0/0"},         // a stop before RUNNING: the state never goes back
        {"RSSX", {R, P, P, X}, "yy", "0/0"}, // a repeated stop is answered again
        // A start that ends before the host runs: STOPPED at once, with our code.
        {"CS", {X}, "n", "1066/7"},
        {"CX", {X}, "", "1066/7"},
        {"XC", {X}, "", "0/0"},
    };
    for (const Case& c : cases) {
        Outcome run = Play(c.steps);
        EXPECT_EQ(run.states, c.states) << c.steps;
        EXPECT_EQ(run.stops, c.stops) << c.steps;
        EXPECT_EQ(run.exitCodes, c.exitCodes) << c.steps;
    }
}

TEST(ServiceStatus, NothingFollowsStoppedWhenAStopRacesTheEnd) {
    for (int round = 0; round < 200; ++round) {
        std::vector<uint32_t> states;
        sv::ServiceStatusSequence sequence([&states](const sv::ServiceStatusRecord& r) { states.push_back(r.state); });
        sequence.ReportRunning();
        std::thread handler([&] { sequence.OnControl(sv::kServiceControlStop); });
        sequence.ReportStopped();
        handler.join();
        ASSERT_EQ(states.back(), sv::kServiceStopped) << round;
    }
}

TEST(ServiceStatus, BinaryPathQuotesTheExecutable) {
    EXPECT_EQ(sv::ServiceCommandLine(L"C:\\Program Files\\Sorvane\\sorvane-host-win7.exe"),
              L"\"C:\\Program Files\\Sorvane\\sorvane-host-win7.exe\" --service");
}
