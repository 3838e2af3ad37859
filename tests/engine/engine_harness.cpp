#include "tests/engine/engine_harness.h"

#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "settings/default_settings.h"
#include "settings/load_settings.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane::test {

void TestOwner::OnTaskLog(const TaskLogEntry& e) {
    std::lock_guard lock(lock_);
    logs_.push_back(e);
}

void TestOwner::OnTaskState(const TaskDescriptor& d) {
    std::lock_guard lock(lock_);
    ends_.push_back(d);
    ended_.notify_all();
}

void TestOwner::OnTaskThreads(const TaskDescriptor&) {
    std::lock_guard lock(lock_);
    ++threads_;
}

bool TestOwner::WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(lock_);
    if (!ended_.wait_for(lock, timeout, [this] { return ends_.size() > seen_; })) {
        return false;
    }
    seen_ = ends_.size();
    return true;
}

std::string TestOwner::Log() {
    std::lock_guard lock(lock_);
    std::string out;
    for (const TaskLogEntry& e : logs_) {
        out +=
            IntToText(e.ThreadNo) + " " + IntToText(static_cast<int>(e.Kind)) + " " + e.Text + "\n";
    }
    return out;
}

bool TestOwner::LogHas(const std::string& text) {
    return Log().find(text) != std::string::npos;
}

int TestOwner::Ends() {
    std::lock_guard lock(lock_);
    return static_cast<int>(ends_.size());
}

TaskDescriptor TestOwner::Last() {
    std::lock_guard lock(lock_);
    return ends_.empty() ? TaskDescriptor{} : ends_.back();
}

int TestOwner::ThreadsMessages() {
    std::lock_guard lock(lock_);
    return threads_;
}

EngineHarness::EngineHarness(std::chrono::milliseconds period)
    : ctx(DataRoot{dir.Path(), dir.Path() + "vardane"}), period_(period) {
    ctx.lang.SetFolders({std::string(VARDANE_SOURCE_DIR) + "/Lang/"});
    MakeDirectories(dir.Path() + "Tasks/");
    DownloadDir = dir.MakeDir("Download");
    // One write of each store instead of one per value.
    RegistryStore& user = ctx.registry.Store(RegRoot::CurrentUser);
    RegistryStore& machine = ctx.registry.Store(RegRoot::LocalMachine);
    user.BeginBatch();
    machine.BeginBatch();
    WriteDefaultSettings(ctx);
    machine.EndBatch();
    user.EndBatch();
    LoadSettings(ctx);
    Configure([](AppSettings& s) {
        s.ConnectionTimeOut = 5;
        s.RetryWaitSec = 1;
        s.RetryLimit = false;
        s.MinBlock = 64 * 1024;
        s.HTTPEnableCookies = true;
        s.SpeedLimit = false;
    });
}

EngineHarness::~EngineHarness() {
    StopTicks();
}

void EngineHarness::Configure(const std::function<void(AppSettings&)>& change) {
    std::lock_guard lock(ctx.SpeedLock);
    change(ctx.settings);
}

void EngineHarness::SetSpeedLimit(bool on, int64_t kb) {
    std::lock_guard lock(ctx.SpeedLock);
    ctx.settings.SpeedLimit = on;
    ctx.SpeedLimitKB = on ? kb : 1024;
    ctx.SpeedBudget = ctx.SpeedLimitKB * 1024;
}

std::string EngineHarness::AddTask(const std::string& url, int threads,
                                   const std::string& fileName) {
    std::string id = MakeTaskId(ctx.AppDir());
    TaskProgressRecord r;
    r.BaseURL = url;
    r.LocalDir = DownloadDir;
    if (fileName.empty()) {
        TaskDescriptor d;
        ParseUrlInto(d, url);
        r.LocalFileName = d.FileName;
    } else {
        r.LocalFileName = fileName;
    }
    r.ThreadCount = IntToText(threads);
    r.State = "2";
    WriteProgress(r, ProgressPath(id));
    AppendListLine(ListFilePath(ctx.AppDir(), TaskList::Downloading), id);
    return id;
}

std::string EngineHarness::ProgressPath(const std::string& id) {
    return ProgressFilePath(ctx.AppDir(), id);
}

TaskProgressRecord EngineHarness::Progress(const std::string& id) {
    return ReadProgress(ProgressPath(id));
}

void EngineHarness::StartTicks(TaskSlot& slot) {
    StopTicks();
    tickStop_ = false;
    ticks_ = std::thread([this, &slot] {
        std::unique_lock lock(tickLock_);
        while (!tickWake_.wait_for(lock, period_, [this] { return tickStop_; })) {
            lock.unlock();
            sampler_.Step(ctx, &owner);
            if (slot.task.Active) {
                TaskTick(slot.task);
            }
            lock.lock();
        }
    });
}

void EngineHarness::StopTicks() {
    if (!ticks_.joinable()) {
        return;
    }
    {
        std::lock_guard lock(tickLock_);
        tickStop_ = true;
    }
    tickWake_.notify_all();
    ticks_.join();
}

bool EngineHarness::Start(TaskSlot& slot, const std::string& id, const TaskProgressRecord* record) {
    slot.task.owner = &owner;
    StartTicks(slot);
    return StartTask(slot, id, "", record);
}

bool EngineHarness::StopAndJoin(TaskSlot& slot, bool noSuccessor,
                                std::chrono::milliseconds timeout) {
    slot.Stop(noSuccessor);
    const bool ended = owner.WaitForEnd(timeout);
    StopTicks();
    slot.JoinWorkers();
    return ended;
}

void EngineHarness::SetProxy(const ProxyRecord& record) {
    RegistryKey key(ctx.registry);
    key.Open(RegRoot::CurrentUser, "SOFTWARE\\Vardane\\Proxy", true);
    key.SetString("Proxy_1", FormatProxyRecord(record));
}

std::optional<TaskState> EngineHarness::Run(TaskSlot& slot, const std::string& id,
                                            std::chrono::milliseconds timeout,
                                            const TaskProgressRecord* record) {
    if (!Start(slot, id, record)) {
        StopTicks();
        return std::nullopt;
    }
    bool ended = owner.WaitForEnd(timeout);
    if (!ended) {
        // A hang fails the test at once, with what the task went through.
        ADD_FAILURE() << "the task did not end within " << timeout.count() << " ms; its log:\n"
                      << owner.Log();
        slot.Stop(true);
    }
    StopTicks();
    slot.JoinWorkers();
    if (!ended) {
        return std::nullopt;
    }
    return owner.Last().State;
}

}  // namespace vardane::test
