// What can be done to tasks by id.
#include "app/task_operations.h"

#include <algorithm>
#include <set>

#include "app/main_frame_host.h"
#include "app/task_queue.h"
#include "app/task_scheduler.h"
#include "dialogs/message_box.h"
#include "platform/deferred_sync.h"
#include "platform/file.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/download_task.h"
#include "task/progress_file.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane {

namespace {

// Lines read per step: a few milliseconds of work, so that a Ctrl-C or
// another command waits no longer than that.
constexpr unsigned kLinesPerStep = 1024;

}  // namespace

TaskOperations::TaskOperations(AppContext& ctx, IMainFrameHost& host, IQuestions& questions,
                               TaskQueue& queue, TaskScheduler& scheduler, DeferredSync& sync,
                               IOperationsListener& listener)
    : ctx_(ctx),
      host_(host),
      questions_(questions),
      queue_(queue),
      scheduler_(scheduler),
      sync_(sync),
      listener_(listener) {}

void TaskOperations::Start(const std::string& id) {
    scheduler_.StartTask(id);
}

void TaskOperations::Stop(const std::string& id, bool noSuccessor) {
    scheduler_.StopTask(id, noSuccessor);
}

namespace {

// Ids copied out first: starting or stopping may change the list walked.
std::vector<std::string> IdsOf(const std::vector<QueuedTask>& tasks) {
    std::vector<std::string> ids;
    for (const QueuedTask& task : tasks) {
        ids.push_back(task.Id);
    }
    return ids;
}

}  // namespace

void TaskOperations::StartAll() {
    std::lock_guard<std::mutex> lock(ctx_.ListLock);
    StartOrStop(IdsOf(queue_.Tasks(TaskList::Downloading)), true, true);
}

void TaskOperations::StopAll() {
    std::lock_guard<std::mutex> lock(ctx_.ListLock);
    StartOrStop(IdsOf(queue_.Tasks(TaskList::Downloading)), false, true);
}

// In one batch: thousands of waiting or stopped states cost one flush and
// one notice.
void TaskOperations::StartOrStop(const std::vector<std::string>& ids, bool start, bool all) {
    queue_.BeginBatch();
    for (const std::string& id : ids) {
        if (start) {
            scheduler_.StartTask(id);
        } else {
            scheduler_.StopTask(id, all);
        }
    }
    if (!queue_.EndBatch()) {
        host_.ReportError("cannot write the task states");
    }
}

bool TaskOperations::Confirm(const char* key, bool defaultNo) {
    return ShowMessage(questions_, ctx_.lang, ctx_.lang.GetLangText(key), QuestionIcon::Question,
                       QuestionButtons::YesNo,
                       defaultNo ? QuestionAnswer::No : QuestionAnswer::Yes) == QuestionAnswer::Yes;
}

bool TaskOperations::Delete(const std::vector<std::string>& ids) {
    if (ids.empty()) {
        return true;
    }
    if (!Confirm("Msg_DeleteConfirm", true)) {
        return false;
    }
    host_.SetWaitCursor(true);
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        DeleteMany(ids);
    }
    listener_.OnTasksDeleted();
    host_.SetWaitCursor(false);
    return true;
}

// One batch for the whole delete: each list file is written once and the
// views hear of it once, however many tasks go. Ids go last to first, as a
// walk of the rows from the bottom collects them.
void TaskOperations::DeleteMany(const std::vector<std::string>& ids) {
    std::vector<std::string> toDeleted;
    std::vector<std::string> gone;
    std::vector<std::string> temps;
    queue_.BeginBatch();
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
        const std::string& id = *it;
        const QueuedTask* task = queue_.Find(id);
        std::optional<TaskList> list = queue_.ListOf(id);
        // A line whose record could not be read goes as its line only: a
        // record that cannot be read is never rewritten from defaults.
        const bool unreadable = task == nullptr;
        if (unreadable) {
            list = queue_.UnreadableListOf(id);
        }
        if (!list) {
            continue;
        }
        const std::string progress = ProgressFilePath(ctx_.AppDir(), id);
        bool running = false;
        const int slot = scheduler_.SlotOfTask(id);
        if (*list == TaskList::Downloading && slot >= 0) {
            // The next waiting task may start once this one has ended; its
            // temporary file goes then, as the workers may still write it.
            running = true;
            scheduler_.StopForDelete(slot, id);
        }
        // A completed task has no temporary file: its name may be another
        // task's download under way.
        const bool completed = task != nullptr && task->State == TaskState::Completed;
        // The queue knows the target: reading 10,000 progress files for it
        // was most of a bulk delete.
        if (!running && !unreadable && !completed && !task->Name.empty()) {
            temps.push_back(task->Dir + task->Name + ".vd~");
        }
        if (*list == TaskList::Deleted) {
            gone.push_back(id);
            continue;
        }
        // In the file and in the queue: a waiting task must not stay
        // "waiting" in the deleted list. A running one is stopped again in
        // the scheduler, once its end has rewritten its record.
        if (!unreadable && task->State != TaskState::Stopped && FileExists(progress)) {
            if (!queue_.SetState(id, TaskState::Stopped)) {
                host_.ReportError("cannot write the state of task " + id);
            }
        }
        toDeleted.push_back(id);
    }
    const bool moved = queue_.MoveManyToList(toDeleted, TaskList::Deleted);
    const bool removed = queue_.RemoveMany(gone);
    if (!queue_.EndBatch() || !moved || !removed) {
        // The lists were read again: what still names a task keeps it.
        host_.ReportError("cannot write the task lists");
    }
    // Files go once no list names their task any more.
    for (const std::string& id : gone) {
        const std::string progress = ProgressFilePath(ctx_.AppDir(), id);
        if (!queue_.Find(id) && !queue_.UnreadableListOf(id) && PathExists(progress) &&
            !RemoveFile(progress)) {
            host_.ReportError("cannot remove " + progress);
        }
    }
    // Only our own: another user's file or a planted link of that name stays.
    for (const std::string& temp : temps) {
        if (!RemoveOwnFile(temp)) {
            host_.ReportError("cannot remove " + temp);
        }
    }
}

namespace {

// One step of the shown tasks' order: each moving task passes one
// neighbour that does not move (towards the top for up), so that a block
// moves as a whole and a task at the edge, or behind one that cannot move,
// stays.
void StepOrder(std::vector<std::string>& shown, const std::set<std::string>& moving, bool up) {
    const int count = static_cast<int>(shown.size());
    if (up) {
        for (int i = 1; i < count; ++i) {
            if (moving.count(shown[i]) > 0 && moving.count(shown[i - 1]) == 0) {
                std::swap(shown[i], shown[i - 1]);
            }
        }
    } else {
        for (int i = count - 2; i >= 0; --i) {
            if (moving.count(shown[i]) > 0 && moving.count(shown[i + 1]) == 0) {
                std::swap(shown[i], shown[i + 1]);
            }
        }
    }
}

}  // namespace

// Each task moves one place (or to an end); see StepOrder. Neighbours are
// the tasks of the category when one is given, as the category's view shows
// them; the new order is written once per list.
void TaskOperations::Move(const std::vector<std::string>& ids, MoveKind kind,
                          const std::string& category) {
    std::lock_guard<std::mutex> lock(ctx_.ListLock);
    std::set<std::string> moving(ids.begin(), ids.end());
    for (TaskList list : {TaskList::Downloading, TaskList::Completed, TaskList::Deleted}) {
        std::vector<std::string> order;
        std::vector<size_t> places;  // positions of the shown tasks in order
        std::vector<std::string> shown;
        bool any = false;
        for (const QueuedTask& task : queue_.Tasks(list)) {
            order.push_back(task.Id);
            if (category.empty() || EqualsNoCase(task.Category, category)) {
                places.push_back(order.size() - 1);
                shown.push_back(task.Id);
                any = any || moving.count(task.Id) > 0;
            }
        }
        if (!any) {
            continue;
        }
        if (kind == MoveKind::Top || kind == MoveKind::Bottom) {
            // As many single steps as it takes: a stable partition.
            std::stable_partition(shown.begin(), shown.end(), [&](const std::string& id) {
                return (moving.count(id) > 0) == (kind == MoveKind::Top);
            });
        } else {
            StepOrder(shown, moving, kind == MoveKind::Up);
        }
        for (size_t i = 0; i < places.size(); ++i) {
            order[places[i]] = shown[i];
        }
        if (!queue_.SetOrder(list, order)) {
            host_.ReportError("cannot write the task order");
        }
    }
}

bool TaskOperations::Redownload(const std::vector<std::string>& ids) {
    if (ids.empty() || !Confirm("Msg_ReDownloadConfirm", false)) {
        return false;
    }
    host_.SetWaitCursor(true);
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        std::vector<std::string> old;
        std::vector<std::string> fresh;
        for (const std::string& id : ids) {
            if (queue_.ListOf(id).value_or(TaskList::Downloading) == TaskList::Downloading) {
                continue;
            }
            const QueuedTask* queued = queue_.Find(id);
            const TaskProgressRecord record =
                queued != nullptr ? queued->Record()
                                  : ReadProgress(ProgressFilePath(ctx_.AppDir(), id));
            // A fresh record: Folder 0, the Download category, no progress.
            TaskProgressRecord task;
            task.BaseURL = record.BaseURL;
            task.LocalDir = record.LocalDir;
            task.LocalFileName = record.LocalFileName;
            task.ProxyHTTP = record.ProxyHTTP;
            task.ProxyFTP = record.ProxyFTP;
            task.ThreadCount = record.ThreadCount;
            task.State = IntToText(StoredState(TaskState::Stopped));
            const std::string newId = MakeTaskId(ctx_.AppDir());
            // Flushed all at once below, before any list names them.
            if (!WriteProgress(task, ProgressFilePath(ctx_.AppDir(), newId),
                               Durability::Deferred)) {
                host_.ReportError("cannot write task " + newId);
                continue;
            }
            old.push_back(id);
            fresh.push_back(newId);
        }
        if (!fresh.empty() && !SyncFileSystem(ctx_.AppDir() + "Tasks/")) {
            host_.ReportError("cannot flush the progress files");
        }
        queue_.BeginBatch();
        const bool removed = queue_.RemoveMany(old);
        const bool added = queue_.AppendMany(TaskList::Downloading, fresh);
        if (ctx_.settings.DownloadImmediately) {
            for (const std::string& id : fresh) {
                scheduler_.StartTask(id);
            }
        }
        if (!queue_.EndBatch() || !removed || !added) {
            host_.ReportError("cannot write the task lists");
        }
        for (const std::string& id : old) {
            if (!queue_.Find(id)) {
                RemoveFile(ProgressFilePath(ctx_.AppDir(), id));
            }
        }
    }
    host_.SetWaitCursor(false);
    return true;
}

void TaskOperations::Added(const std::string& id, bool startNow) {
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        // The list file is flushed with the progress file below.
        if (!queue_.Append(TaskList::Downloading, id, true, Durability::Deferred)) {
            host_.ReportError("task " + id + " was not added");
            return;
        }
    }
    if (startNow) {
        scheduler_.StartTask(id);
    }
    sync_.Add(ProgressFilePath(ctx_.AppDir(), id));
    sync_.Add(ListFilePath(ctx_.AppDir(), TaskList::Downloading));
    listener_.OnTaskAdded();
}

void TaskOperations::Edited(const std::string& id, bool startNow) {
    queue_.Refresh(id);
    if (startNow && queue_.ListOf(id) == TaskList::Downloading) {
        scheduler_.StartTask(id);
    }
}

void TaskOperations::Import() {
    if (std::optional<std::string> path = AskImportFile()) {
        ImportFile(*path);
    }
}

std::optional<std::string> TaskOperations::AskImportFile() {
    std::optional<std::string> path = host_.ChooseImportFile("*.txt;");
    if (!path || path->empty() || !Confirm("Msg_ImportConfirm", false)) {
        return std::nullopt;
    }
    return path;
}

int TaskOperations::ImportFile(const std::string& path) {
    std::unique_ptr<ImportRun> run = BeginImport(path, ctx_.settings.DownloadImmediately);
    host_.SetWaitCursor(true);
    while (ContinueImport(*run) && !host_.ImportCancelled()) {
    }
    host_.SetWaitCursor(false);
    return FinishImport(*run);
}

std::unique_ptr<ImportRun> TaskOperations::BeginImport(const std::string& path,
                                                       bool startImmediately) {
    auto run = std::make_unique<ImportRun>();
    run->done = !run->reader.Open(path);
    const std::string& folder = ctx_.settings.DownloadFolder;
    run->folder = folder.empty() ? "" : WithTrailingSlash(folder);
    run->startImmediately = startImmediately;
    return run;
}

bool TaskOperations::ContinueImport(ImportRun& run) {
    if (run.done) {
        return false;
    }
    std::lock_guard<std::mutex> lock(ctx_.ListLock);
    const AppSettings& settings = ctx_.settings;
    std::string line;
    for (unsigned lines = 0; lines < kLinesPerStep; ++lines) {
        if (!run.reader.ReadLine(line)) {
            run.done = true;
            return false;
        }
        line = ReplaceCopy(ReplaceCopy(line, "\r", ""), "\n", "");
        TaskDescriptor parsed;
        if (line.empty() || !ParseUrlInto(parsed, line)) {
            continue;
        }
        const TaskProgressRecord record =
            NewStoppedTaskRecord(settings, line, run.folder, parsed.FileName);
        const std::string id = MakeTaskId(ctx_.AppDir());
        // One flush of the file system for the whole file, in FinishImport: a
        // sync per address made an import of 10,000 lines take most of a minute.
        if (WriteProgress(record, ProgressFilePath(ctx_.AppDir(), id), Durability::Deferred)) {
            run.added.push_back(id);
        }
    }
    return true;
}

int TaskOperations::FinishImport(ImportRun& run) {
    run.done = true;
    run.reader.Close();
    std::vector<std::string>& added = run.added;
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        // The files reach the disk before the list names them, so a crash
        // never leaves a list entry without its progress file. One write of
        // the list for the whole file: a line at a time would rewrite the
        // growing list once per address.
        if (!added.empty() &&
            !SyncFileSystem(FolderOf(ProgressFilePath(ctx_.AppDir(), added[0])))) {
            host_.ReportError("cannot flush the progress files");
        }
        if (!queue_.AppendMany(TaskList::Downloading, added)) {
            for (const std::string& id : added) {
                RemoveFile(ProgressFilePath(ctx_.AppDir(), id));
            }
            added.clear();
            host_.ReportError("cannot write Downloading.lst");
        }
        if (run.startImmediately) {
            // One batch: the waiting states are flushed and announced once.
            queue_.BeginBatch();
            for (const std::string& id : added) {
                scheduler_.StartTask(id);
            }
            if (!queue_.EndBatch()) {
                host_.ReportError("cannot write the task states");
            }
        }
    }
    const int count = static_cast<int>(added.size());
    ShowMessage(questions_, ctx_.lang,
                IntToText(count) + " " + ctx_.lang.GetCountText("Msg_ImportValidFilesCount", count),
                QuestionIcon::Information);
    return count;
}

}  // namespace vardane
