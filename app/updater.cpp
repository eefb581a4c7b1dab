#include "app/updater.h"

#include <nlohmann/json.hpp>

#include <new>

#include "app/command_messages.h"
#include "app/update_command_line.h"
#include "app/update_installer.h"
#include "app/update_staging.h"
#include "base/annotated_mutex.h"
#include "base/file_io.h"
#include "base/sha256_hex.h"
#include "net/https_client.h"

namespace sv {

std::string UpdateCheckUrl(const std::string& base, const std::string& product, const std::string& version,
                           const std::string& os) {
    return base + "/api/update/check?product=" + product + "&version=" + version + "&os=" + os;
}

bool ParseUpdateCheckAnswer(const std::string& body, UpdateInfo& info) {
    info = UpdateInfo();
    try {
        nlohmann::json answer = nlohmann::json::parse(body);
        if (!answer.is_object()) return false;
        if (!answer.value("hasUpdate", false)) return true;
        info.version = answer.value("version", std::string());
        info.changelog = answer.value("changelog", std::string());
        info.checksum = answer.value("checksum", std::string());
        info.downloadUrl = answer.value("downloadUrl", std::string());
        info.mandatory = answer.value("mandatory", false);
        info.hasUpdate = true;
        return true;
    } catch (const nlohmann::json::exception&) {
        info = UpdateInfo();
        return false;
    }
}

std::string UpdateDownloadUrl(const std::string& base, const std::string& downloadUrl) {
    if (downloadUrl.compare(0, 8, "https://") == 0) return downloadUrl;
    return base + downloadUrl;
}

namespace {

// Fills `failure` (when given) and returns false.
bool Failed(UpdateFailure* failure, std::string reason, bool noResponse = false) {
    if (failure != nullptr) {
        failure->noResponse = noResponse;
        failure->reason = std::move(reason);
    }
    return false;
}

// A response that is no 200 answer, in the words the update's lines use.
bool FailedAnswer(UpdateFailure* failure, const std::string& url, const HttpResponse& response,
                  const std::string& caBundlePath) {
    if (response.status == 0) return Failed(failure, NoAnswerReason(url, response, "", caBundlePath), true);
    return Failed(failure, "the update server answered HTTP " + std::to_string(response.status));
}

}  // namespace

bool CheckForUpdate(const std::string& base, const std::string& product, const std::string& version,
                    const std::string& os, const std::string& caBundlePath, UpdateInfo& info,
                    UpdateFailure* failure) {
    try {
        const std::string url = UpdateCheckUrl(base, product, version, os);
        HttpResponse response = HttpGet(url, caBundlePath.c_str(), 5);
        if (response.status != 200) return FailedAnswer(failure, url, response, caBundlePath);
        if (ParseUpdateCheckAnswer(std::string(response.body.begin(), response.body.end()), info)) return true;
        return Failed(failure, "the update server's answer cannot be read as an update check");
    } catch (const std::bad_alloc&) {
        info = UpdateInfo();
        return Failed(failure, "the update server's answer does not fit in memory");
    }
}

bool DownloadUpdate(const std::string& base, const UpdateInfo& info, const std::string& caBundlePath,
                    std::vector<uint8_t>& package, UpdateFailure* failure) {
    package.clear();
    try {
        const std::string url = UpdateDownloadUrl(base, info.downloadUrl);
        HttpResponse response = HttpGet(url, caBundlePath.c_str(), 5);
        if (response.status != 200) return FailedAnswer(failure, url, response, caBundlePath);
        if (response.body.empty()) return Failed(failure, "the package is empty");
        if (Sha256Hex(response.body.data(), response.body.size()) != info.checksum) {
            return Failed(failure, "the package does not match its checksum");
        }
        package = std::move(response.body);
        return true;
    } catch (const std::bad_alloc&) {
        return Failed(failure, "the package does not fit in memory");
    }
}

int RunUpdateRound(const UpdateConfig& config) {
    UpdateInfo info;
    UpdateFailure failure;
    if (!CheckForUpdate(config.apiBase, kUpdateProduct, kUpdateVersion, kUpdateOs, config.caBundlePath, info,
                        &failure)) {
        config.log(std::string("[update] check failed (") + kUpdateVersion + "): " + failure.reason +
                   "; this version keeps running and checks again in 6 hours");
        return 0;
    }
    if (!info.hasUpdate) {
        config.log(std::string("[update] up to date (") + kUpdateVersion + ")");
        return 0;
    }
    const std::string exePath = GetOwnExePath();
    const std::string installDir = InstallDirectoryOf(exePath);
    if (!FolderAcceptsNewFiles(installDir)) {
        config.log("[update] " + info.version + " available, but " + installDir + " cannot be written: not installed");
        return 0;
    }
    config.log("[update] " + info.version + " available, downloading");
    std::vector<uint8_t> package;
    if (!DownloadUpdate(config.apiBase, info, config.caBundlePath, package, &failure)) {
        config.log("[update] download/checksum failed for " + info.version + ": " + failure.reason);
        return 0;
    }
    const std::string staging = JoinDataPath(config.dataDir, kStagingFolderName);
    if (!UnpackVerifiedUpdate(package, staging, config.signingKey)) {
        config.log("[update] signature/manifest verify failed for " + info.version);
        return 0;
    }
    if (!LaunchUpdaterHelper(staging, exePath, config.args, config.signingKey)) {
        config.log("[update] could not start the updater helper for " + info.version);
        return 0;
    }
    config.log("[update] " + info.version + " staged and verified, applying");
    return 1;
}

struct UpdateThread::Shared {
    Mutex mutex;
    CondVar wake;
    bool stop SV_GUARDED_BY(mutex) = false;
    bool finished SV_GUARDED_BY(mutex) = false;
};

UpdateThread::UpdateThread(UpdateConfig config, Round round, std::chrono::milliseconds period)
    : shared_(std::make_shared<Shared>()) {
    // The thread keeps its own reference: it may outlive this object (see the header).
    thread_ = DetachableThread([shared = shared_, config = std::move(config), round = std::move(round), period] {
        for (;;) {
            int staged = 0;
            try {
                staged = round(config);
            } catch (...) {
                config.log("[update] check threw");
            }
            MutexLock lock(shared->mutex);
            if (staged != 0) {
                lock.Unlock();
                if (config.beforeApply) config.beforeApply();
                lock.Lock();
            }
            if (staged != 0 ||
                shared->wake.WaitFor(lock, period, [&shared]() SV_REQUIRES(shared->mutex) { return shared->stop; })) {
                shared->finished = true;
                shared->wake.NotifyAll();
                return;
            }
        }
    });
}

void UpdateThread::LetGo() {
    {
        MutexLock lock(shared_->mutex);
        shared_->stop = true;
        shared_->wake.NotifyAll();
    }
    if (thread_.Joinable()) thread_.LetGo();
}

UpdateThread::~UpdateThread() {
    if (!thread_.Joinable()) return;  // let go already
    MutexLock lock(shared_->mutex);
    shared_->stop = true;
    shared_->wake.NotifyAll();
    const bool ended = shared_->wake.WaitFor(lock, kUpdateStopWait,
                                             [this]() SV_REQUIRES(shared_->mutex) { return shared_->finished; });
    lock.Unlock();
    if (ended) {
        thread_.Join();
    } else {
        thread_.LetGo();
    }
}

bool UpdateThread::Finished() {
    MutexLock lock(shared_->mutex);
    return shared_->finished;
}

std::unique_ptr<UpdateThread> StartUpdateThread(UpdateConfig config) {
    return std::make_unique<UpdateThread>(std::move(config), RunUpdateRound, kUpdatePeriod);
}

}  // namespace sv
