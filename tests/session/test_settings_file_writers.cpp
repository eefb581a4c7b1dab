#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "base/file_io.h"
#include "session/host.h"
#include "session/host_test_support.h"
#include "session/identity_files.h"
#include "test_support.h"
#include "training/win32/surface_audio.h"

namespace {

using nlohmann::json;

// The password and the trainee's audio settings share one file and are changed from
// different threads; neither change may undo the other.
TEST(SettingsFileWriters, PasswordAndAudioChangesAreBothKept) {
    sv_test::ScratchDir dir;
    std::unique_ptr<sv::Host> host = sv_test::MakeTestHost(dir.Path());
    const std::string path = dir.Path() + "\\host-ui.json";
    ASSERT_TRUE(sv::WriteFileAtomically(path, R"({"Theme":"dark"})"));
    for (int round = 0; round < 40; ++round) {
        const bool rotate = round % 2 == 0;
        if (!rotate) {
            // LoadOrCreatePassword writes only into a file without a password.
            json s = json::parse(sv_test::ReadFile(path));
            s.erase("password");
            ASSERT_TRUE(sv::WriteFileAtomically(path, s.dump()));
        }
        const double volume = round / 100.0;
        const bool muted = round % 3 == 0;
        std::atomic<int> ready{0};
        std::string password;
        auto together = [&] {
            ready.fetch_add(1);
            while (ready.load() < 2) std::this_thread::yield();
        };
        std::thread identity([&] {
            together();
            if (rotate) {
                host->RotatePassword();
                password = host->Password();
            } else {
                password = sv::LoadOrCreatePassword(dir.Path());
            }
        });
        std::thread audio([&] {
            together();
            sv::training::SaveAudioSettings(path, volume, muted);
        });
        identity.join();
        audio.join();
        json s = json::parse(sv_test::ReadFile(path));
        ASSERT_EQ(s.value("password", ""), password) << "round " << round;
        ASSERT_EQ(s.value("TrainingVolume", -1.0), volume) << "round " << round;
        ASSERT_EQ(s.value("TrainingMuted", !muted), muted) << "round " << round;
        ASSERT_EQ(s.value("Theme", ""), "dark") << "round " << round;
    }
}

}  // namespace
