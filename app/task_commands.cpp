// The commands of the menus, toolbar and pop-up menus, turned into calls of
// the frame's parts.
#include "app/command_ids.h"
#include "app/main_frame.h"
#include "settings/app_context.h"
#include "task/progress_file.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane {

void MainFrame::OnCommand(int id) {
    switch (id) {
        case ID_NEW:
        case ID_TB_NEW:
            host_.OpenNewTaskDialog("");
            break;
        case ID_IMPORT:
            operations_.Import();
            break;
        case ID_SITE_EXPLORER:
            host_.OpenSiteExplorer();
            break;
        case ID_SETTINGS:
            host_.OpenSettings();
            break;
        case ID_EXIT:
            host_.CloseRequested();
            break;
        case ID_SELECT_ALL:
            view_.SelectAll();
            break;
        case ID_START:
        case ID_TB_START:
            TaskCommand(TaskCommandKind::Start, false);
            break;
        case ID_STOP:
        case ID_TB_STOP:
            TaskCommand(TaskCommandKind::Stop, false);
            break;
        case ID_DELETE:
        case ID_TB_DELETE:
            TaskCommand(TaskCommandKind::Delete, false);
            break;
        case ID_START_ALL:
            TaskCommand(TaskCommandKind::Start, true);
            break;
        case ID_STOP_ALL:
            TaskCommand(TaskCommandKind::Stop, true);
            break;
        case ID_DELETE_ALL:
            TaskCommand(TaskCommandKind::Delete, true);
            break;
        case ID_REDOWNLOAD:
            DownloadAgain();
            break;
        case ID_PROPERTIES:
        case ID_TB_PROPERTIES: {
            std::vector<std::string> selected = view_.SelectedIds();
            if (!selected.empty()) {
                host_.OpenTaskProperties(selected[0]);
            }
            break;
        }
        case ID_MOVE_DOWN:
            operations_.Move(view_.SelectedIds(), MoveKind::Down, pane_.CategoryFilter());
            break;
        case ID_MOVE_UP:
            operations_.Move(view_.SelectedIds(), MoveKind::Up, pane_.CategoryFilter());
            break;
        case ID_OPEN_FILE:
            OpenSelected(false);
            break;
        case ID_OPEN_FOLDER:
            OpenSelected(true);
            break;
        case ID_SPEEDLIMIT_CHECK:
            speed_.SetSpeedLimitChecked(!speed_.SpeedLimitChecked());
            break;
        case ID_FOLDER_BUTTON:
            pane_.ToggleFolderTree();
            break;
        default:
            break;
    }
}

void MainFrame::TaskCommand(TaskCommandKind kind, bool all) {
    if (view_.Rows().empty()) {
        return;
    }
    if (kind == TaskCommandKind::Delete) {
        (void)operations_.Delete(view_.IdsOfRows(all));
        return;
    }
    if (pane_.CurrentView() != TaskView::Downloading) {
        return;
    }
    host_.SetWaitCursor(true);
    {
        std::lock_guard<std::mutex> lock(ctx_.ListLock);
        operations_.StartOrStop(view_.IdsOfRows(all), kind == TaskCommandKind::Start, all);
    }
    host_.SetWaitCursor(false);
}

void MainFrame::DownloadAgain() {
    if (pane_.CurrentView() == TaskView::Downloading || view_.Rows().empty()) {
        return;
    }
    std::vector<std::string> ids = view_.SelectedIds();
    if (!ids.empty() && operations_.Redownload(ids)) {
        view_.SelectView(TaskView::Downloading);
    }
}

// The first selected row's target (its folder for folderOnly); nothing
// when nothing is selected.
void MainFrame::OpenSelected(bool folderOnly) {
    std::vector<std::string> selected = view_.SelectedIds();
    std::string path;
    if (!selected.empty()) {
        TaskProgressRecord record = ReadProgress(ProgressFilePath(ctx_.AppDir(), selected[0]));
        path = folderOnly ? record.LocalDir : record.LocalDir + record.LocalFileName;
    }
    opener_.Open(path);
}

void MainFrame::OnNewTaskAdded(const std::string& id, bool startNow) {
    view_.SelectView(TaskView::Downloading);
    operations_.Added(id, startNow);
}

void MainFrame::OnTaskEdited(const std::string& id, bool startNow) {
    operations_.Edited(id, startNow);
}

void MainFrame::OnAddressHandedOver(const std::string& url) {
    host_.OpenNewTaskDialog(url);
}

}  // namespace vardane
