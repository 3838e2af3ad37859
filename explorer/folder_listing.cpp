#include "explorer/folder_listing.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "engine/ftp_reply.h"
#include "explorer/explorer_client.h"
#include "explorer/site_list.h"
#include "net/connection_owner.h"
#include "settings/app_context.h"

namespace vardane {

namespace {

class Collector : public IExplorerWindow {
  public:
    void OnExplorerLog(LogKind kind, const std::string& text) override {
        std::lock_guard lock(mutex_);
        if (kind == LogKind::Listing) {
            result.lines.push_back(text);
        } else if (kind == LogKind::Received && IsNegative(ReplyCode(text))) {
            refusal_ = text;
        } else if (kind == LogKind::Error || kind == LogKind::Info) {
            lastLog_ = text;
        }
    }
    void OnExplorerBusy() override {}
    void OnExplorerIdle() override {
        std::lock_guard lock(mutex_);
        idle_ = true;
        changed_.notify_all();
    }
    // Waits for the end of the operation; false when it did not come in
    // time or cancel became true.
    bool WaitIdle(std::chrono::seconds limit, const std::atomic<bool>* cancel) {
        const auto end = std::chrono::steady_clock::now() + limit;
        std::unique_lock lock(mutex_);
        while (!idle_ && std::chrono::steady_clock::now() < end) {
            if (cancel != nullptr && *cancel) {
                return false;
            }
            changed_.wait_for(lock, std::chrono::milliseconds(100));
        }
        return idle_;
    }
    std::string Error() {
        std::lock_guard lock(mutex_);
        return refusal_.empty() ? lastLog_ : refusal_;
    }

    FolderListing result;

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool idle_ = false;
    std::string refusal_, lastLog_;
};

}  // namespace

std::string SiteUrlFolder(const std::string& url) {
    SiteAddress site;
    if (!ParseSiteUrl(url, site)) {
        return "/";
    }
    return site.path;
}

FolderListing ListFolder(AppContext& ctx, const std::string& siteUrl, const std::string& path,
                         const std::atomic<bool>* cancel) {
    Collector collector;
    int timeOut;
    {
        std::lock_guard lock(ctx.SpeedLock);
        timeOut = ctx.settings.ConnectionTimeOut > 0 ? ctx.settings.ConnectionTimeOut : 60;
    }
    bool ended, failed;
    {
        ExplorerClient client(ctx, &collector);
        client.PostConnect(siteUrl);
        if (!path.empty()) {
            client.PostCwd(path);
        }
        // The client ends every operation by its own time-out; this bound
        // only guards against a fault in it.
        ended = collector.WaitIdle(std::chrono::seconds(2 * timeOut + 5), cancel);
        failed = client.LastFailed();
    }
    FolderListing result = std::move(collector.result);
    result.Ok = ended && !failed;
    if (!result.Ok) {
        result.error = collector.Error();
    }
    return result;
}

}  // namespace vardane
