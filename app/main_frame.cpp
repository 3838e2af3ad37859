// Start-up, shutdown, the long-lived threads and the forwarding of task
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
#include "task/task_list.h"

namespace vardane {

CMainFrame::CMainFrame(CAppContext& ctx, CWindowLoop& loop, IQuestions& questions,
                       IMainFrameHost& host, ITaskEngine& engine)
    : ctx_(ctx),
      loop_(loop),
      questions_(questions),
      host_(host),
      engine_(engine),
      queue_(ctx.root.AppDir),
      recordSync_([this](const std::string& path) {
          loop_.Post([this, path] { host_.ReportError("cannot flush " + path); });
      }) {
    queue_.AddListener(this);
    for (auto& slot : slots_) {
        slot = engine_.MakeSlot(ctx_);
    }
}

CMainFrame::~CMainFrame() {
    Close();
    // A failed flush reports through the loop: run that report while this
    // frame still exists.
    recordSync_.Drain();
    loop_.Pump();
}

void CMainFrame::Create(const StartOptions& options) {
    if (created_) {
        return;
    }
    created_ = true;
    closed_ = false;
    {
        std::lock_guard<std::mutex> lock(ctx_.SpeedLock);
        ctx_.iRunningThreads = 0;
        ctx_.iSpeedBudget = 0;
        ctx_.fAvgSpeedKB = 0;
    }
    ctx_.bClosing = false;

    // Defaults, then the record; both establish the current language.
    ctx_.settings.AppDir = ctx_.root.AppDir;
    ctx_.settings.AppPath = ctx_.root.AppPath;
    RunSettingsStartup(ctx_);

    host_.SetWaitCursor(true);
    title_ = ctx_.lang.GetAppTitle();

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
        CRegistryKey key(ctx_.registry);
        key.Open(RegRoot::CurrentUser, GroupKeyPath("Default"), true);
        std::string folder = key.QueryString("DownloadFolder");
        if (folder.empty() || !DirectoryExists(folder)) {
            key.SetString("DownloadFolder", downloadDir);
        }
    }

    RebuildMenus();
    BuildMainFolderTree(ctx_.registry, ctx_.lang, folders_);
    folderButtonText_ = ctx_.lang.GetLangText("MainDlg_Folder_Downloading");
    fileCountText_ = "0 Files";
    totalSpeedText_ = "0.0 KB/s";

    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        for (const std::string& problem : queue_.Load()) {
            host_.ReportError(problem);
        }
        RepairDownloadingList();
    }
    SelectView(TaskView::Downloading);

    int64_t limit = 1024;
    bool limitOn = false;
    {
        std::lock_guard<std::mutex> lock(ctx_.SpeedLock);
        limit = ctx_.iSpeedLimitKB;
        limitOn = ctx_.settings.SpeedLimit;
    }
    sliderValue_ = static_cast<int>(limit);
    SetSpeedLimitChecked(limitOn);

    if (options.StartThreads) {
        StartThreads();
    }
    if (options.AllowDownloadAtStart && ctx_.settings.DownloadAtStart) {
        StartAll();
    }
    host_.SetWaitCursor(false);
    Notify(partTitle | partMenus | partFolders | partSpeedLimit | partTotalSpeed | partTabs);
    if (!options.CommandLineUrl.empty()) {
        OnAddressHandedOver(options.CommandLineUrl);
    }
}

// Tasks left running or waiting by the last run show as stopped: nothing
// runs or waits before the user (or DownloadAtStart) starts it again.
void CMainFrame::RepairDownloadingList() {
    std::vector<std::string> ids;
    for (const QueuedTask& task : queue_.Tasks(TaskList::Downloading)) {
        if (task.State == TaskState::Running || task.State == TaskState::Waiting) {
            ids.push_back(task.Id);
        }
    }
    for (const std::string& id : ids) {
        WriteState(id, TaskState::Stopped);
    }
}

void CMainFrame::SettingsChanged() {
    const std::string language = ctx_.lang.Current();
    LoadSettings(ctx_);
    if (ctx_.lang.Current() != language) {
        Relabel();
    }
    int64_t limit = 1024;
    bool limitOn = false;
    {
        std::lock_guard<std::mutex> lock(ctx_.SpeedLock);
        // The loaded record leaves the speed limit alone: take the stored one.
        CRegistryKey key(ctx_.registry);
        key.Open(RegRoot::CurrentUser, GroupKeyPath("Connection"), true);
        limitOn = SettingFlag(key.QueryString("SpeedLimit"));
        limit = std::clamp<int64_t>(TextToInt(key.QueryString("SpeedLimitKBSec")), 1, 1024);
    }
    sliderValue_ = static_cast<int>(limit);
    SetSpeedLimitChecked(limitOn);
    std::lock_guard<std::mutex> lock(ctx_.ListLock);
    for (int i = 0; i < kTaskSlots && !ctx_.bClosing && FreeSlotCount() > 0; ++i) {
        if (!StartNextWaiting()) {
            break;
        }
    }
}

void CMainFrame::StartThreads() {
    threadsStopping_ = false;
    for (int i = 0; i < kTaskSlots; ++i) {
        slotThreads_[i] = std::make_unique<CPeriodicThread>();
        slotThreads_[i]->Start(std::chrono::milliseconds(1000), [this, i] { SlotStep(i); });
    }
    samplerThread_.Start(std::chrono::milliseconds(1000), [this] { SamplerStep(); });
    keepAwakeThread_.Start(std::chrono::seconds(20), [this] {
        if (!ctx_.bClosing) {
            host_.KeepAwake();
        }
    });
}

void CMainFrame::SlotStep(int slot) {
    if (threadsStopping_) {
        return;
    }
    if (slots_[slot]->Task().bActive) {
        slots_[slot]->Tick();
    }
}

void CMainFrame::SamplerStep() {
    if (threadsStopping_) {
        return;
    }
    engine_.SampleSpeed(ctx_, this);
}

// The threads may be inside a call to the window thread right now: they are
// stopped from a helper thread while this (window) thread keeps pumping.
void CMainFrame::StopThreads() {
    threadsStopping_ = true;
    std::atomic<bool> done{false};
    std::thread stopper([this, &done] {
        for (auto& thread : slotThreads_) {
            if (thread) {
                thread->Stop();
            }
        }
        samplerThread_.Stop();
        keepAwakeThread_.Stop();
        done = true;
        loop_.Post([] {});  // wakes the pump below
    });
    while (!done) {
        loop_.WaitAndPump(50);
    }
    stopper.join();
    for (auto& thread : slotThreads_) {
        thread.reset();
    }
}

int CMainFrame::RunningWorkerThreads() {
    std::lock_guard<std::mutex> lock(ctx_.SpeedLock);
    return ctx_.iRunningThreads;
}

void CMainFrame::Close() {
    if (!created_ || closed_) {
        return;
    }
    closed_ = true;
    host_.SetWaitCursor(true);
    ctx_.bClosing = true;
    for (int i = 0; i < kTaskSlots; ++i) {
        StopSlot(i, true);
    }
    // Workers may be blocked in a call to this thread: keep serving them.
    auto anyBusy = [this] {
        for (int i = 0; i < kTaskSlots; ++i) {
            if (IsSlotBusy(i)) {
                return true;
            }
        }
        return false;
    };
    while (RunningWorkerThreads() > 0 || anyBusy()) {
        loop_.WaitAndPump(10);
    }
    // The last worker of a task still logs after its end was reported.
    for (auto& slot : slots_) {
        while (!slot->Idle()) {
            loop_.WaitAndPump(10);
        }
    }
    StopThreads();
    recordSync_.Drain();
    loop_.Pump();
    WriteSpeedLimitSettings();
    host_.SetWaitCursor(false);
}

void CMainFrame::WriteSpeedLimitSettings() {
    bool limitOn = false;
    int64_t limit = 1024;
    {
        std::lock_guard<std::mutex> lock(ctx_.SpeedLock);
        limitOn = ctx_.settings.SpeedLimit;
        limit = ctx_.iSpeedLimitKB;
    }
    CRegistryKey key(ctx_.registry);
    key.Open(RegRoot::CurrentUser, GroupKeyPath("Connection"), true);
    key.SetString("SpeedLimit", limitOn ? "1" : "0");
    key.SetString("SpeedLimitKBSec", IntToText(limit));
}

// Notifications arrive on worker and slot threads and behave like
// SendMessage: the caller waits until the window thread has handled them.
// A closed loop drops them.
void CMainFrame::OnTaskLog(const TaskLogEntry& e) {
    loop_.Send([this, &e] { HandleTaskLog(e); });
}

void CMainFrame::OnTaskState(const TaskDescriptor& d) {
    loop_.Send([this, &d] { HandleTaskState(d); });
}

void CMainFrame::OnTaskProgress(const TaskDescriptor& d) {
    loop_.Send([this, &d] { HandleTaskProgress(d); });
}

void CMainFrame::OnTaskThreads(const TaskDescriptor& d) {
    loop_.Send([this, &d] { HandleTaskThreads(d); });
}

void CMainFrame::OnSpeedTick() {
    loop_.Send([this] { HandleSpeedTick(); });
}

}  // namespace vardane
