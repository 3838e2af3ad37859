#include "app/task_engine.h"

#include "engine/speed_limiter.h"
#include "engine/worker.h"

namespace vardane {

namespace {

class EngineSlot : public ISlotEngine {
  public:
    explicit EngineSlot(AppContext& ctx) : slot_(ctx) {}
    DownloadTask& Task() override { return slot_.task; }
    bool Start(const std::string& id, const TaskProgressRecord& record) override {
        return StartTask(slot_, id, "", &record);
    }
    void Stop(bool noSuccessor) override { slot_.Stop(noSuccessor); }
    void Tick() override { TaskTick(slot_.task); }
    bool Idle() override { return slot_.Idle(); }

  private:
    TaskSlot slot_;
};

class DownloadEngine : public ITaskEngine {
  public:
    std::unique_ptr<ISlotEngine> MakeSlot(AppContext& ctx) override {
        return std::make_unique<EngineSlot>(ctx);
    }
    void SampleSpeed(AppContext& ctx, ITaskOwner* owner) override { sampler_.Step(ctx, owner); }

  private:
    SpeedSampler sampler_;
};

}  // namespace

std::unique_ptr<ITaskEngine> MakeDownloadEngine() {
    return std::make_unique<DownloadEngine>();
}

}  // namespace vardane
