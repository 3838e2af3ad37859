#include "explorer/explorer_tasks.h"

#include "app/main_frame.h"
#include "explorer/list_line.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane {

int AddExplorerTask(CMainFrame& frame, const std::string& folder, const std::string& url) {
    CAppContext& ctx = frame.Context();
    if (IsUrlInDownloadList(ctx, url)) {
        return IExplorerHost::alreadyQueued;
    }
    TaskDescriptor parsed;
    if (!ParseUrlInto(parsed, url) || !IsSafeEntryName(parsed.FileName)) {
        return IExplorerHost::failed;
    }
    const CAppSettings& settings = ctx.settings;
    TaskProgressRecord record;
    record.BaseURL = url;
    record.LocalDir = folder;
    record.LocalFileName = parsed.FileName;
    record.ProxyHTTP = IntToText(settings.ProxyHTTP);
    record.ProxyFTP = IntToText(settings.ProxyFTP);
    record.State = IntToText(stateStopped);
    record.ThreadCount = IntToText(settings.ThreadCnt);
    std::lock_guard lock(ctx.ListLock);
    const std::string id = MakeTaskId(ctx.AppDir());
    if (!WriteProgress(record, ProgressFilePath(ctx.AppDir(), id))) {
        return IExplorerHost::failed;
    }
    AppendListLine(ListFilePath(ctx.AppDir(), TaskList::Downloading), id);
    if (frame.CurrentView() == TaskView::Downloading) {
        frame.AddRow(id);
    }
    if (settings.DownloadImmediately) {
        frame.StartTaskById(id);
    }
    return IExplorerHost::added;
}

int CFrameExplorerHost::AddExplorerTask(const std::string& folder, const std::string& url) {
    return vardane::AddExplorerTask(frame_, folder, url);
}

}  // namespace vardane
