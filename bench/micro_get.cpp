// Micro-benchmark of the engine alone: downloads one address with the
// engine (no main window, no CLI) into a fresh data root and prints the wall
// time. bench/run.sh times the shipped vardane-cli instead.
//   vardane_micro_get <url> <connections> <output folder> [--limit KB]
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "engine/speed_limiter.h"
#include "engine/worker.h"
#include "platform/file.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "settings/default_settings.h"
#include "settings/load_settings.h"
#include "task/progress_file.h"
#include "task/task_list.h"
#include "task/url.h"

namespace {

using namespace vardane;

class Owner : public ITaskOwner {
  public:
    void OnTaskLog(const TaskLogEntry& e) override {
        if (e.Kind == LogKind::Error) {
            std::fprintf(stderr, "%d %s\n", e.ThreadNo, e.Text.c_str());
        }
    }
    void OnTaskState(const TaskDescriptor& d) override {
        std::lock_guard lock(lock_);
        state_ = d.State;
        finished_ = true;
        ended_.notify_all();
    }
    void OnTaskProgress(const TaskDescriptor&) override {}
    void OnTaskThreads(const TaskDescriptor&) override {}
    void OnSpeedTick() override {}
    TaskState Wait() {
        std::unique_lock lock(lock_);
        ended_.wait(lock, [this] { return finished_; });
        return state_;
    }

  private:
    std::mutex lock_;
    std::condition_variable ended_;
    TaskState state_ = TaskState::Stopped;
    bool finished_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: vardane_micro_get <url> <connections> <folder> [--limit KB]\n");
        return 2;
    }
    std::string url = argv[1];
    int threads = std::atoi(argv[2]);
    std::string folder = WithTrailingSlash(argv[3]);
    int64_t limit = argc >= 6 && std::strcmp(argv[4], "--limit") == 0 ? std::atoll(argv[5]) : 0;
    MakeDirectories(folder + "Tasks/");
    MakeDirectories(folder + "Download/");
    AppContext ctx(DataRoot{folder, ""});
    RegistryStore& user = ctx.registry.Store(RegRoot::CurrentUser);
    RegistryStore& machine = ctx.registry.Store(RegRoot::LocalMachine);
    user.BeginBatch();  // one write of each store instead of one per value
    machine.BeginBatch();
    WriteDefaultSettings(ctx);
    machine.EndBatch();
    user.EndBatch();
    LoadSettings(ctx);
    {
        std::lock_guard lock(ctx.SpeedLock);
        ctx.settings.SpeedLimit = limit > 0;
        ctx.SpeedLimitKB = limit > 0 ? limit : 1024;
        // A limited run starts with an empty budget, so every second of the
        // measured time carries one second's budget.
        ctx.SpeedBudget = limit > 0 ? 0 : ctx.SpeedLimitKB * 1024;
        ctx.settings.MinBlock = 100 * 1024;
    }
    std::string id = MakeTaskId(ctx.AppDir());
    TaskProgressRecord r;
    r.BaseURL = url;
    r.LocalDir = folder + "Download/";
    TaskDescriptor d;
    ParseUrlInto(d, url);
    r.LocalFileName = d.FileName;
    r.ThreadCount = IntToText(threads);
    WriteProgress(r, ProgressFilePath(ctx.AppDir(), id));
    AppendListLine(ListFilePath(ctx.AppDir(), TaskList::Downloading), id);

    Owner owner;
    TaskSlot slot(ctx);
    slot.task.owner = &owner;
    auto start = std::chrono::steady_clock::now();
    std::atomic<bool> done{false};
    std::thread ticks([&] {  // the app's one-second threads, on a steady schedule
        SpeedSampler sampler;
        auto next = start;
        while (!done) {
            next += std::chrono::seconds(1);
            while (!done && std::chrono::steady_clock::now() < next) {
                std::this_thread::sleep_until(std::min(
                    next, std::chrono::steady_clock::now() + std::chrono::milliseconds(50)));
            }
            sampler.Step(ctx, nullptr);
            if (slot.task.Active) {
                TaskTick(slot.task);
            }
        }
    });
    if (!StartTask(slot, id)) {
        std::fprintf(stderr, "cannot start\n");
        done = true;
        ticks.join();
        return 1;
    }
    TaskState state = owner.Wait();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    done = true;
    ticks.join();
    slot.JoinWorkers();
    std::printf("state=%d seconds=%.3f file=%s\n", StoredState(state), seconds,
                (r.LocalDir + slot.task.Snapshot().LocalFileName).c_str());
    return state == TaskState::Completed ? 0 : 1;
}
