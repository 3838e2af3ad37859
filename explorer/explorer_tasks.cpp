#include "explorer/explorer_tasks.h"

#include "app/main_frame.h"
#include "explorer/list_line.h"
#include "platform/file.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/download_task.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane {

int AddExplorerTask(MainFrame& frame, const std::string& folder, const std::string& url) {
    AppContext& ctx = frame.Context();
    if (!frame.Queue().DownloadingTaskOfUrl(url).empty()) {
        return IExplorerHost::alreadyQueued;
    }
    TaskDescriptor parsed;
    if (!ParseUrlInto(parsed, url) || !IsSafeEntryName(parsed.FileName)) {
        return IExplorerHost::failed;
    }
    const AppSettings& settings = ctx.settings;
    const TaskProgressRecord record = NewStoppedTaskRecord(settings, url, folder, parsed.FileName);
    const std::string id = MakeTaskId(ctx.AppDir());
    const std::string progressPath = ProgressFilePath(ctx.AppDir(), id);
    if (!WriteProgress(record, progressPath, Durability::Deferred)) {
        return IExplorerHost::failed;
    }
    // The queue writes the list line and has both files flushed.
    frame.Operations().Added(id, settings.DownloadImmediately);
    if (frame.Queue().ListOf(id) != TaskList::Downloading) {
        RemoveFile(progressPath);  // the list could not take it
        return IExplorerHost::failed;
    }
    return IExplorerHost::added;
}

int FrameExplorerHost::AddExplorerTask(const std::string& folder, const std::string& url) {
    return vardane::AddExplorerTask(frame_, folder, url);
}

}  // namespace vardane
