// What the task scheduler needs from the download engine, behind a small
// interface: the real engine for front ends, a scripted one for the
// scheduler's tests.
#pragma once

#include <memory>
#include <string>

namespace vardane {

class DownloadTask;
class ITaskOwner;
struct TaskProgressRecord;
struct AppContext;

// One task slot with the engine behind it.
class ISlotEngine {
  public:
    virtual ~ISlotEngine() = default;
    virtual DownloadTask& Task() = 0;
    // Starts task id in the slot with its record, which the caller has just
    // written to the progress file. True when a worker was launched, so the
    // task will report its end (handing its record back); false when the
    // start was abandoned at once (missing progress file, bad address).
    virtual bool Start(const std::string& id, const TaskProgressRecord& record) = 0;
    // Asks the running task to stop; it reports its end later.
    virtual void Stop(bool noSuccessor) = 0;
    // The one-second step of a busy slot; it notifies the task's owner.
    virtual void Tick() = 0;
    // True when no worker thread of the slot is alive any more.
    virtual bool Idle() = 0;
};

class ITaskEngine {
  public:
    virtual ~ITaskEngine() = default;
    virtual std::unique_ptr<ISlotEngine> MakeSlot(AppContext& ctx) = 0;
    // The speed sampler's one-second step; it sends the speed tick to owner.
    virtual void SampleSpeed(AppContext& ctx, ITaskOwner* owner) = 0;
};

// The download engine of engine/.
std::unique_ptr<ITaskEngine> MakeDownloadEngine();

}  // namespace vardane
