// Keeps the context's LocalTargets in step with the Downloading list, so
// that a worker choosing a free local name knows the names other tasks aim
// at without reading their files.
//
// Threading: window thread (the queue's notices).
#pragma once

#include <string>

#include "app/task_queue.h"

namespace vardane {

struct AppContext;

class TargetsFeed : public ITaskQueueListener {
  public:
    TargetsFeed(AppContext& ctx, TaskQueue& queue);
    ~TargetsFeed() override;
    TargetsFeed(const TargetsFeed&) = delete;
    TargetsFeed& operator=(const TargetsFeed&) = delete;

    void OnTaskInserted(TaskList list, int /*index*/) override { Publish(list); }
    void OnTaskRemoved(TaskList list, int /*index*/, const std::string& /*id*/) override {
        Publish(list);
    }
    void OnTaskChanged(TaskList list, int /*index*/, unsigned fields) override {
        if ((fields & fieldName) != 0) {
            Publish(list);
        }
    }
    void OnListReset(TaskList list) override { Publish(list); }
    void OnListChanged(TaskList list, bool /*fieldsOnly*/) override { Publish(list); }

  private:
    void Publish(TaskList list);

    AppContext& ctx_;
    TaskQueue& queue_;
};

}  // namespace vardane
