// The per-thread log of the selected task.
#include "app/log_view.h"

#include <algorithm>

#include "app/kept_logs.h"
#include "app/main_frame_host.h"
#include "app/task_scheduler.h"
#include "platform/display_text.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/download_task.h"
#include "task/progress_file.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane {

LogView::LogView(AppContext& ctx, IMainFrameHost& host, const TaskScheduler& scheduler,
                 const KeptLogs& keptLogs, const TaskQueue& queue)
    : ctx_(ctx), host_(host), scheduler_(scheduler), keptLogs_(keptLogs), queue_(queue) {}

void LogView::Notify(unsigned parts) {
    host_.OnModelChanged(parts);
}

void LogView::Clear() {
    logTree_ = LogTreeState{};
    logList_.clear();
    ++logListGeneration_;
    Notify(partLogTree | partLogList);
}

void LogView::Fill(const std::string& id) {
    TaskProgressRecord record = ReadProgress(ProgressFilePath(ctx_.AppDir(), id));
    logTree_ = LogTreeState{};
    logTree_.HasRoot = true;
    logTree_.RootText = ctx_.lang.GetLangText("MainDlg_Log");
    logTree_.ThreadCount =
        static_cast<int>(std::clamp<int64_t>(TextToInt(record.ThreadCount), 0, 4));
    logTree_.TaskId = id;
    Notify(partLogTree);
    // A task that is not running opens on the thread that said why it
    // failed.
    int first = scheduler_.SlotOfTask(id) < 0 ? keptLogs_.LastErrorThread(id) : 0;
    if (first < 1 || first > logTree_.ThreadCount) {
        first = 1;
    }
    if (logTree_.ThreadCount >= 1) {
        SelectThread(first);
    }
}

void LogView::SelectThread(int n) {
    if (!logTree_.HasRoot || n < 1 || n > logTree_.ThreadCount) {
        return;
    }
    logTree_.SelectedThread = n;
    Notify(partLogTree);
    logList_.clear();
    ++logListGeneration_;
    int slot = scheduler_.SlotOfTask(logTree_.TaskId);
    if (slot < 0) {
        // Its run has ended: what it logged in this session (nothing for a
        // task that last ran in an earlier one).
        logList_ = keptLogs_.Lines(logTree_.TaskId, n - 1, queue_.Find(logTree_.TaskId));
    } else {
        for (const TaskLogEntry& entry : scheduler_.ThreadLog(slot, n - 1)) {
            logList_.push_back(LogLine{entry.Kind, DisplayText(entry.Text)});
        }
    }
    Notify(partLogList);
}

bool LogView::ShowsThread(int thread) const {
    return logTree_.SelectedThread >= 1 && thread == logTree_.SelectedThread - 1;
}

void LogView::Append(const TaskLogEntry& entry) {
    if (logList_.size() >= kMaxLogLines) {
        logList_.clear();
        ++logListGeneration_;
    }
    logList_.push_back(LogLine{entry.Kind, DisplayText(entry.Text)});
    Notify(partLogList);
}

void LogView::Relabel() {
    if (logTree_.HasRoot) {
        logTree_.RootText = ctx_.lang.GetLangText("MainDlg_Log");
    }
}

std::string LogView::LastErrorLine(const std::string& id) const {
    return keptLogs_.LastError(id, queue_.Find(id));
}

}  // namespace vardane
