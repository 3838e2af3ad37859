// Import of a text file of addresses, one per line.
#include "app/main_frame.h"
#include "dialogs/message_box.h"
#include "platform/file.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane {

namespace {

// Lines read per step: a few milliseconds of work, so that a Ctrl-C or
// another command waits no longer than that.
constexpr unsigned kLinesPerStep = 1024;

}  // namespace

void CMainFrame::Import() {
    if (std::optional<std::string> path = AskImportFile()) {
        ImportFile(*path);
    }
}

std::optional<std::string> CMainFrame::AskImportFile() {
    std::optional<std::string> path = host_.ChooseImportFile("*.txt;");
    if (!path || path->empty() || !Confirm("Msg_ImportConfirm", false)) {
        return std::nullopt;
    }
    return path;
}

int CMainFrame::ImportFile(const std::string& path) {
    std::unique_ptr<ImportRun> run = BeginImport(path, ctx_.settings.DownloadImmediately);
    host_.SetWaitCursor(true);
    while (ContinueImport(*run) && !host_.ImportCancelled()) {
    }
    host_.SetWaitCursor(false);
    return FinishImport(*run);
}

std::unique_ptr<ImportRun> CMainFrame::BeginImport(const std::string& path, bool startImmediately) {
    auto run = std::make_unique<ImportRun>();
    run->done = !run->reader.Open(path);
    const std::string& folder = ctx_.settings.DownloadFolder;
    run->folder = folder.empty() ? "" : WithTrailingSlash(folder);
    run->startImmediately = startImmediately;
    return run;
}

bool CMainFrame::ContinueImport(ImportRun& run) {
    if (run.done) {
        return false;
    }
    std::lock_guard<std::mutex> lock(ctx_.ListLock);
    const CAppSettings& settings = ctx_.settings;
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

int CMainFrame::FinishImport(ImportRun& run) {
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
                StartTaskById(id);
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
