#include "app/service_status.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// Steps: 'R' running, 'S' stop control, 'D' shutdown control, 'I' interrogate (4),
// 'X' stopped. The result lists the states reported, and which controls asked for a stop.
struct Outcome {
    std::vector<uint32_t> states;
    std::string stops;
};

Outcome Play(const std::string& steps) {
    Outcome run;
    sv::ServiceStatusSequence sequence([&run](const sv::ServiceStatusRecord& r) {
        EXPECT_EQ(r.type, sv::kServiceOwnProcess);
        EXPECT_EQ(r.controlsAccepted, r.state == sv::kServiceStopped ? 0u : sv::kServiceAcceptStopAndShutdown);
        run.states.push_back(r.state);
    });
    for (char c : steps) {
        switch (c) {
        case 'R': sequence.ReportRunning(); break;
        case 'S': run.stops += sequence.OnControl(sv::kServiceControlStop) ? 'y' : 'n'; break;
        case 'D': run.stops += sequence.OnControl(sv::kServiceControlShutdown) ? 'y' : 'n'; break;
        case 'I': run.stops += sequence.OnControl(4) ? 'y' : 'n'; break;
        case 'X': sequence.ReportStopped(); break;
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
    } cases[] = {
        {"RSX", {R, P, X}, "y"},
        {"RDX", {R, P, X}, "y"},
        {"RX", {R, X}, ""},           // the host-run task ended by itself
        {"RIX", {R, X}, "n"},         // other controls change nothing
        {"RXS", {R, X}, "n"},         // a stop after STOPPED reports nothing and stops nothing
        {"RSXX", {R, P, X}, "y"},     // STOPPED once
        {"SRX", {P, X}, "y"},         // a stop before RUNNING: the state never goes back
        {"RSSX", {R, P, P, X}, "yy"}, // a repeated stop is answered again
    };
    for (const Case& c : cases) {
        Outcome run = Play(c.steps);
        EXPECT_EQ(run.states, c.states) << c.steps;
        EXPECT_EQ(run.stops, c.stops) << c.steps;
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
