#include "app/targets_feed.h"

#include <vector>

#include "settings/app_context.h"

namespace vardane {

TargetsFeed::TargetsFeed(AppContext& ctx, TaskQueue& queue) : ctx_(ctx), queue_(queue) {
    queue_.AddListener(this);
    Publish(TaskList::Downloading);
}

TargetsFeed::~TargetsFeed() {
    queue_.RemoveListener(this);
}

void TargetsFeed::Publish(TaskList list) {
    if (list != TaskList::Downloading) {
        return;
    }
    const std::vector<QueuedTask>& tasks = queue_.Tasks(TaskList::Downloading);
    std::vector<LocalTargets::Listed> listed;
    listed.reserve(tasks.size());
    for (const QueuedTask& task : tasks) {
        listed.push_back({task.Id, task.Dir, task.Name});
    }
    ctx_.targets.Publish(listed);
}

}  // namespace vardane
