#pragma once
// Keeping the host up to date: the check against the update API, the download with its
// checksum, one update round (check, download, verify and stage, start the installer)
// and the thread that runs a round at start and every six hours.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/detachable_thread.h"
#include "resources/version.h"

namespace sv {

constexpr char kUpdateProduct[] = "sorvane-host-win7";
constexpr char kUpdateVersion[] = SV_VERSION_STRING;
constexpr char kUpdateOs[] = "win";

struct UpdateInfo {
    bool hasUpdate = false;
    std::string version;
    std::string changelog;  // carried, not acted on
    std::string checksum;   // SHA-256 of the package, 64 lowercase hex digits
    std::string downloadUrl;
    bool mandatory = false;  // carried, not acted on: every offered update is installed
};

// base + "/api/update/check?product=...&version=...&os=...", values as they are.
std::string UpdateCheckUrl(const std::string& base, const std::string& product, const std::string& version,
                           const std::string& os);
// The check's answer body; false for anything that is not a JSON object of the expected
// value types (a missing key keeps its default).
bool ParseUpdateCheckAnswer(const std::string& body, UpdateInfo& info);
// An "https://" download URL as it is; anything else is a path under the base.
std::string UpdateDownloadUrl(const std::string& base, const std::string& downloadUrl);

// Why a check or a download brought nothing usable, in a few words: the cause the HTTPS
// client knows, the update server's HTTP status, an answer that cannot be read, a
// package that does not match its checksum. The update address is built in: nothing
// here asks the person to check it.
struct UpdateFailure {
    bool noResponse = false;  // nothing came back at all
    std::string reason;
};

// True when an answer was read, whether or not it offers an update. An answer too large
// for the memory left is no answer. `failure` (may be null) says why not.
bool CheckForUpdate(const std::string& base, const std::string& product, const std::string& version,
                    const std::string& os, const std::string& caBundlePath, UpdateInfo& info,
                    UpdateFailure* failure = nullptr);
// True when the package was fetched and its SHA-256 equals the offered checksum.
// `failure` (may be null) says why not.
bool DownloadUpdate(const std::string& base, const UpdateInfo& info, const std::string& caBundlePath,
                    std::vector<uint8_t>& package, UpdateFailure* failure = nullptr);

struct UpdateConfig {
    std::string dataDir;  // the staging folder is its "update-staging" child
    std::string caBundlePath;
    std::vector<std::string> args;  // the host's own arguments, handed to the restarted program
    std::function<void(const std::string&)> log;
    std::function<void()> beforeApply;  // stops the host so the installer can replace it
    std::string apiBase;                // the update API base
    std::string signingKey;             // SubjectPublicKeyInfo DER, Base64
};

// One round; 1 when an update is staged and the installer runs, else 0. Each step
// logs one line through config.log. An update offered while the program's folder
// cannot be written is not downloaded: the host would be stopped for nothing.
int RunUpdateRound(const UpdateConfig& config);

// The update thread. A round at once, then one every `period`; a round that staged an
// update calls beforeApply and ends the thread. Destroying the object ends the wait
// between rounds and waits a bounded time for a round in progress; a round that
// outlasts that (a slow download) is left to end with the process.
class UpdateThread {
public:
    using Round = std::function<int(const UpdateConfig&)>;
    UpdateThread(UpdateConfig config, Round round, std::chrono::milliseconds period);
    ~UpdateThread();
    UpdateThread(const UpdateThread&) = delete;
    UpdateThread& operator=(const UpdateThread&) = delete;

    // Whether the thread has ended by itself (an update was staged).
    bool Finished();

    // Ends the wait between rounds and lets a round in progress end alone, without
    // waiting for it: the process's exit must not wait for an update API that hangs.
    // The destructor then waits for nothing.
    void LetGo();

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    DetachableThread thread_;
};

constexpr std::chrono::milliseconds kUpdatePeriod{21600000};
constexpr std::chrono::milliseconds kUpdateStopWait{5000};

std::unique_ptr<UpdateThread> StartUpdateThread(UpdateConfig config);

}  // namespace sv
