// Start-up and shutdown of the parts, and the forwarding of task
// notifications to the window thread.
#include "app/main_frame.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "dialogs/category_tree.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "settings/load_settings.h"
#include "settings/registry_paths.h"
#include "settings/setting_value.h"
#include "settings/settings_startup.h"
#include "task/download_task.h"
#include "task/task_list.h"

namespace vardane {

MainFrame::MainFrame(AppContext& ctx, WindowLoop& loop, IQuestions& questions, IMainFrameHost& host,
                     ITaskEngine& engine)
    : ctx_(ctx),
      loop_(loop),
      host_(host),
      queue_(ctx.root.AppDir),
      recordSync_([this](const std::string& path) {
          loop_.Post([this, path] { host_.ReportError("cannot flush " + path); });
      }),
      pane_(ctx, host, questions),
      speed_(ctx, host),
      log_(ctx, host, scheduler_, keptLogs_, queue_),
      view_(ctx, host, queue_, pane_, log_),
      scheduler_(ctx, loop, host, engine, queue_, *this, keptLogs_, recordSync_, view_),
      operations_(ctx, host, questions, queue_, scheduler_, recordSync_, view_) {}

MainFrame::~MainFrame() {
    Close();
    // A failed flush reports through the loop: run that report while this
    // frame still exists.
    recordSync_.Drain();
    loop_.Pump();
}

void MainFrame::Create(const StartOptions& options) {
    if (created_) {
        return;
    }
    created_ = true;
    closed_ = false;
    {
        std::lock_guard<std::mutex> lock(ctx_.SpeedLock);
        ctx_.RunningThreads = 0;
        ctx_.SpeedBudget = 0;
        ctx_.AvgSpeedKB = 0;
    }
    ctx_.Closing = false;

    // Defaults, then the record; both establish the current language.
    ctx_.settings.AppDir = ctx_.root.AppDir;
    ctx_.settings.AppPath = ctx_.root.AppPath;
    RunSettingsStartup(ctx_);

    host_.SetWaitCursor(true);

    const std::string downloadDir = ctx_.AppDir() + "Download/";
    for (const std::string& folder : {downloadDir, ctx_.AppDir() + "Tasks/"}) {
        if (!MakeDirectories(folder)) {
            // Tasks still load and run; only what needs the folder fails.
            host_.ReportError("cannot create folder " + folder);
        }
    }
    {
        // A default folder that is unset or gone points at Download/ again;
        // the loaded record keeps its value until the next start.
        RegistryKey key(ctx_.registry);
        key.Open(RegRoot::CurrentUser, GroupKeyPath("Default"), true);
        std::string folder = key.QueryString("DownloadFolder");
        if (folder.empty() || !DirectoryExists(folder)) {
            key.SetString("DownloadFolder", downloadDir);
        }
    }

    pane_.Build();

    // The view is shown before the lists are read: their load derives its
    // rows once (100,000 of them at a time).
    view_.SelectView(TaskView::Downloading);
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        for (const std::string& problem : queue_.Load()) {
            host_.ReportError(problem);
        }
        // Tasks left running or waiting by the last run show as stopped.
        scheduler_.StopLeftovers();
    }
    speed_.Load();

    if (options.StartThreads) {
        scheduler_.StartThreads();
    }
    if (options.AllowDownloadAtStart && ctx_.settings.DownloadAtStart) {
        operations_.StartAll();
    }
    host_.SetWaitCursor(false);
    host_.OnModelChanged(partTitle | partMenus | partFolders | partSpeedLimit | partTotalSpeed |
                         partTabs);
    if (!options.CommandLineUrl.empty()) {
        OnAddressHandedOver(options.CommandLineUrl);
    }
}

void MainFrame::SettingsChanged() {
    const std::string language = ctx_.lang.Current();
    LoadSettings(ctx_);
    if (ctx_.lang.Current() != language) {
        Relabel();
    }
    speed_.Reload();
    std::lock_guard<std::mutex> lock(ctx_.ListLock);
    scheduler_.FillFreeSlots();
}

void MainFrame::Relabel() {
    pane_.Relabel();
    log_.Relabel();
    view_.RefreshFileCount();
    host_.OnModelChanged(partTitle | partFolders | partLogTree);
}

void MainFrame::Close() {
    if (!created_ || closed_) {
        return;
    }
    closed_ = true;
    host_.SetWaitCursor(true);
    ctx_.Closing = true;
    scheduler_.Shutdown();
    recordSync_.Drain();
    loop_.Pump();
    speed_.WriteSpeedLimitSettings();
    host_.SetWaitCursor(false);
}

// Notifications arrive on worker and slot threads and behave like
// SendMessage: the caller waits until the window thread has handled them.
// A closed loop drops them.
void MainFrame::OnTaskLog(const TaskLogEntry& e) {
    // A worker does not wait for the window thread to take its line (a
    // request logs about fifteen): the loop runs calls in order, so a task's
    // lines still come before its end.
    if (loop_.IsWindowThread()) {
        HandleTaskLog(e);
        return;
    }
    loop_.Post([this, e] { HandleTaskLog(e); });
}

void MainFrame::OnTaskState(const TaskDescriptor& d) {
    loop_.Send([this, &d] { scheduler_.OnTaskEnded(d); });
}

void MainFrame::OnTaskProgress(const TaskDescriptor& d) {
    loop_.Send([this, &d] { HandleTaskProgress(d); });
}

void MainFrame::OnTaskThreads(const TaskDescriptor& d) {
    loop_.Send([this, &d] { view_.OnTaskThreads(d.TaskId); });
}

void MainFrame::OnSpeedTick() {
    loop_.Send([this] { HandleSpeedTick(); });
}

void MainFrame::HandleTaskLog(const TaskLogEntry& e) {
    host_.OnTaskLog(e);
    keptLogs_.Add(e);
    view_.OnTaskLog(e);
}

void MainFrame::HandleTaskProgress(const TaskDescriptor& d) {
    queue_.SetProgress(d.TaskId, d.LocalFileName, d.FileSize, d.Downloaded, d.BestPercent,
                       d.AvgSpeedKB);
}

void MainFrame::HandleSpeedTick() {
    speed_.OnSpeedTick();
    scheduler_.OnSpeedTick();
}

}  // namespace vardane
