// A started-up data root with the English language file, and an explorer
// window that records what the directory client reports.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "explorer/explorer_client.h"
#include "platform/registry.h"
#include "settings/app_context.h"
#include "settings/proxy_record.h"
#include "settings/settings_startup.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {

class ExplorerRoot {
  public:
    ExplorerRoot() : ctx_(MakeRoot(dir_)) {
        RunSettingsStartup(ctx_);
        ctx_.settings.ConnectionTimeOut = 10;
    }
    AppContext& Ctx() { return ctx_; }
    const TempDir& Dir() const { return dir_; }
    // The FTP proxy (number 1) the client loads at every connect.
    void SetFtpProxy(const ProxyRecord& record) {
        RegistryKey key(ctx_.registry);
        key.Open(RegRoot::CurrentUser, "SOFTWARE\\Vardane\\Proxy", true);
        key.SetString("Proxy_1", FormatProxyRecord(record));
        ctx_.settings.ProxyFTP = 1;
    }

  private:
    static DataRoot MakeRoot(const TempDir& dir) {
        WriteFile(dir / "Lang/Eng", ReadFile(VARDANE_SOURCE_DIR "/Lang/Eng"));
        WriteFile(dir / "Tasks/.keep", "");
        return DataRoot{dir.Path(), dir.Path() + "vardane"};
    }
    TempDir dir_{"vardane-explorer"};
    AppContext ctx_;
};

class RecordingWindow : public IExplorerWindow {
  public:
    struct Line {
        LogKind kind;
        std::string text;
    };
    void OnExplorerLog(LogKind kind, const std::string& text) override {
        std::lock_guard lock(mutex_);
        lines_.push_back({kind, text});
    }
    void OnExplorerBusy() override {}
    void OnExplorerIdle() override {
        std::lock_guard lock(mutex_);
        ++idles_;
        changed_.notify_all();
    }
    // Waits (at most 30 s) until count operations have ended.
    bool WaitIdles(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return idles_ >= count; });
    }
    std::vector<Line> Lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<std::string> Texts(LogKind kind) {
        std::vector<std::string> out;
        for (const Line& l : Lines()) {
            if (l.kind == kind) {
                out.push_back(l.text);
            }
        }
        return out;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Line> lines_;
    int idles_ = 0;
};

}  // namespace vardane::test
