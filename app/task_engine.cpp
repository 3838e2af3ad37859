#include "app/task_engine.h"

#include "engine/speed_limiter.h"
#include "engine/worker.h"

namespace vardane {

namespace {

class CEngineSlot : public ISlotEngine {
  public:
    explicit CEngineSlot(CAppContext& ctx) : slot_(ctx) {}
    CDownloadTask& Task() override { return slot_.task; }
    bool Start(const std::string& id, const TaskProgressRecord& record) override {
        return StartTask(slot_, id, "", &record);
    }
    void Stop(bool noSuccessor) override { slot_.Stop(noSuccessor); }
    void Tick() override { TaskTick(slot_.task); }
    bool Idle() override { return slot_.Idle(); }

  private:
    CTaskSlot slot_;
};

class CDownloadEngine : public ITaskEngine {
  public:
    std::unique_ptr<ISlotEngine> MakeSlot(CAppContext& ctx) override {
        return std::make_unique<CEngineSlot>(ctx);
    }
    void SampleSpeed(CAppContext& ctx, ITaskOwner* owner) override { sampler_.Step(ctx, owner); }

  private:
    CSpeedSampler sampler_;
};

}  // namespace

std::unique_ptr<ITaskEngine> MakeDownloadEngine() {
    return std::make_unique<CDownloadEngine>();
}

}  // namespace vardane
