// Import of a text file of addresses, one per line.
#include "app/main_frame.h"
#include "dialogs/message_box.h"
#include "platform/file.h"
#include "platform/line_reader.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane {

void CMainFrame::Import() {
    std::optional<std::string> path = host_.ChooseImportFile("*.txt;");
    if (!path || path->empty()) {
        return;
    }
    if (!Confirm("Msg_ImportConfirm", false)) {
        return;
    }
    ImportFile(*path);
}

int CMainFrame::ImportFile(const std::string& path) {
    int count = 0;
    CTextLineReader reader;
    if (reader.Open(path)) {
        host_.SetWaitCursor(true);
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        const CAppSettings& settings = ctx_.settings;
        const std::string folder =
            settings.DownloadFolder.empty() ? "" : WithTrailingSlash(settings.DownloadFolder);
        std::vector<std::string> added;
        std::string line;
        // A look for Ctrl-C every 1024 lines: a fraction of a second apart.
        for (unsigned lines = 1; reader.ReadLine(line); ++lines) {
            if (lines % 1024 == 0 && host_.ImportCancelled()) {
                break;
            }
            line = ReplaceCopy(ReplaceCopy(line, "\r", ""), "\n", "");
            if (line.empty()) {
                continue;
            }
            TaskDescriptor parsed;
            if (!ParseUrlInto(parsed, line)) {
                continue;
            }
            const TaskProgressRecord record =
                NewStoppedTaskRecord(settings, line, folder, parsed.FileName);
            const std::string id = MakeTaskId(ctx_.AppDir());
            // One flush of the file system for the whole file below: a sync
            // per address made an import of 10,000 lines take most of a minute.
            if (!WriteProgress(record, ProgressFilePath(ctx_.AppDir(), id), Durability::Deferred)) {
                continue;
            }
            added.push_back(id);
        }
        // One write of the list for the whole file: a line at a time would
        // rewrite the growing list once per address.
        // The files reach the disk before the list names them, so a crash
        // never leaves a list entry without its progress file.
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
        count = static_cast<int>(added.size());
        if (settings.DownloadImmediately) {
            for (const std::string& id : added) {
                StartTaskById(id);
            }
        }
        host_.SetWaitCursor(false);
    }
    ShowMessage(questions_, ctx_.lang,
                IntToText(count) + " " + ctx_.lang.GetLangText("Msg_ImportValidFilesCount"),
                QuestionIcon::Information);
    return count;
}

}  // namespace vardane
