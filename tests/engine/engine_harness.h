// What the engine tests share: a temporary data root with the settings
// defaults written, a task owner that records what the engine reports, tasks
// written as progress files, and the one-second steps (speed sampler and
// TaskTick) run on a thread while a task runs, as the app's threads do.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <thread>
#include "engine/speed_limiter.h"
#include "engine/worker.h"
#include "settings/app_context.h"
#include "settings/proxy_record.h"
#include "task/progress_file.h"
#include "task/task_owner.h"
#include "tests/support/temp_dir.h"

namespace vardane::test {

class TestOwner : public ITaskOwner {
  public:
    void OnTaskLog(const TaskLogEntry& e) override;
    void OnTaskState(const TaskDescriptor& d) override;
    void OnTaskProgress(const TaskDescriptor&) override {}
    void OnTaskThreads(const TaskDescriptor& d) override;
    void OnSpeedTick() override { ++speedTicks; }

    // Waits for the next OnTaskState; false after timeout.
    bool WaitForEnd(std::chrono::milliseconds timeout);
    // Every log line so far as "<thread> <kind> <text>\n".
    std::string Log();
    bool LogHas(const std::string& text);
    int Ends();
    TaskDescriptor Last();
    int ThreadsMessages();

    std::atomic<int> speedTicks{0};

  private:
    std::mutex lock_;
    std::condition_variable ended_;
    std::vector<TaskLogEntry> logs_;
    std::vector<TaskDescriptor> ends_;
    int threads_ = 0;
    size_t seen_ = 0;
};

class EngineHarness {
  public:
    // period: the interval of the one-second steps (shorter in tests).
    explicit EngineHarness(std::chrono::milliseconds period = std::chrono::milliseconds(200));
    ~EngineHarness();

    // Changes settings under SpeedLock.
    void Configure(const std::function<void(AppSettings&)>& change);
    void SetSpeedLimit(bool on, int64_t kb);

    // Writes a progress file for url (LocalDir the download folder, the file
    // name from the address unless given) and lists it in Downloading.lst.
    std::string AddTask(const std::string& url, int threads, const std::string& fileName = "");
    TaskProgressRecord Progress(const std::string& id);
    std::string ProgressPath(const std::string& id);

    // Starts id in slot and waits for its end while the ticks run. Returns
    // the final state, or none when it did not end in time: the test then
    // fails with the task's log, and the task is stopped and joined.
    // With a record the task starts from it, as from its owner's hands;
    // without one the engine reads the progress file.
    std::optional<TaskState> Run(TaskSlot& slot, const std::string& id,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(60),
                                 const TaskProgressRecord* record = nullptr);
    // Starts id in slot with the ticks running and returns at once, for a
    // test that stops the task part-way with StopAndJoin.
    bool Start(TaskSlot& slot, const std::string& id, const TaskProgressRecord* record = nullptr);
    // Stops the task, waits for its end, then ends the ticks and joins the
    // workers; false when the task did not end in time.
    bool StopAndJoin(TaskSlot& slot, bool noSuccessor = false,
                     std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // Starts the ticks for slot (Run does it); StopTicks ends them.
    void StartTicks(TaskSlot& slot);
    void StopTicks();
    // The proxy record of new tasks (Proxy_1, both protocols' default).
    void SetProxy(const ProxyRecord& record);

    TempDir dir{"vardane-engine"};
    std::string DownloadDir;
    AppContext ctx;
    TestOwner owner;

  private:
    std::chrono::milliseconds period_;
    std::thread ticks_;
    std::mutex tickLock_;
    std::condition_variable tickWake_;
    bool tickStop_ = false;
    SpeedSampler sampler_;
};

}  // namespace vardane::test
