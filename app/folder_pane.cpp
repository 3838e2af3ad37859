// The folder tree, the menus, the title and the tabs.
#include "app/folder_pane.h"

#include "app/command_ids.h"
#include "app/main_frame_host.h"
#include "app/task_rows.h"
#include "dialogs/category_commands.h"
#include "dialogs/category_tree.h"
#include "settings/app_context.h"

namespace vardane {

namespace {

// The view of a folder tree item: its first ancestor (or itself) with a
// folder icon; Downloading when there is none.
TaskView ViewOfItem(const TreeModel& tree, TreeItem item) {
    for (TreeItem i = item; i != kNoItem; i = tree.Parent(i)) {
        switch (tree.Icon(i)) {
            case imgDownloading:
                return TaskView::Downloading;
            case imgCompleted:
                return TaskView::Completed;
            case imgDeleted:
                return TaskView::Deleted;
            default:
                break;
        }
    }
    return TaskView::Downloading;
}

}  // namespace

FolderPane::FolderPane(AppContext& ctx, IMainFrameHost& host, IQuestions& questions)
    : ctx_(ctx), host_(host), questions_(questions) {}

void FolderPane::Build() {
    title_ = ctx_.lang.GetAppTitle();
    RebuildMenus();
    BuildMainFolderTree(ctx_.registry, ctx_.lang, folders_);
    folderButtonText_ = ctx_.lang.GetLangText("MainDlg_Folder_Downloading");
}

void FolderPane::RebuildMenus() {
    fileMenu_ = BuildFileMenu(ctx_.lang);
    controlMenu_ = BuildControlMenu(view_, ctx_.lang);
    host_.OnModelChanged(partMenus);
}

void FolderPane::Relabel() {
    title_ = ctx_.lang.GetAppTitle();
    const TreeItem top = folders_.Top();
    if (top != kNoItem) {
        folders_.SetText(top, title_);
        const std::vector<TreeItem>& views = folders_.Children(top);
        for (size_t i = 0; i < views.size() && i < 3; ++i) {
            folders_.SetText(views[i], ctx_.lang.GetLangText(FolderTextKey(static_cast<int>(i))));
        }
    }
    if (folders_.Exists(folders_.Selected())) {
        folderButtonText_ = folders_.Text(folders_.Selected());
    }
    RebuildMenus();
}

void FolderPane::ShowView(TaskView view) {
    view_ = view;
    RebuildMenus();
    const auto& folders = folders_.Children(folders_.Top());
    auto index = static_cast<size_t>(view);
    if (index < folders.size()) {
        folders_.Select(folders[index]);
        folderButtonText_ = folders_.Text(folders[index]);
    }
    host_.OnModelChanged(partFolders);
}

bool FolderPane::SelectItem(TreeItem item) {
    if (!folders_.Exists(item)) {
        return false;
    }
    if (item == folders_.Top()) {
        // The program's own node stands for no view: it selects Downloading,
        // and the list follows, so the shown rows always match the selection.
        item = folders_.FirstChild(item);
        if (item == kNoItem) {
            return false;
        }
    }
    folders_.Select(item);
    treeVisible_ = false;
    folderButtonText_ = folders_.Text(item);
    view_ = ViewOfItem(folders_, item);
    host_.OnModelChanged(partFolders);
    RebuildMenus();
    return true;
}

void FolderPane::ToggleFolderTree() {
    treeVisible_ = !treeVisible_;
    host_.OnModelChanged(partFolders);
}

void FolderPane::SelectTab(int tab) {
    tab_ = tab == 1 ? 1 : 0;
    host_.OnModelChanged(partTabs);
}

TaskView FolderPane::ViewOfFolder(TreeItem item) const {
    return ViewOfItem(folders_, item);
}

std::string FolderPane::CategoryOfFolder(TreeItem item) const {
    ItemTextPath path = GetItemTextPath(folders_, item);
    return path.Depth < 3 ? "" : TextPathToKeyPath(ctx_.registry, path.Path);
}

// The category key of the selected folder item when it is a category (depth
// 3 or more), else "" (the whole view).
std::string FolderPane::CategoryFilter() const {
    return CategoryOfFolder(folders_.Selected());
}

std::vector<MenuEntry> FolderPane::TaskPopupMenu() const {
    return BuildTaskPopupMenu(view_, ctx_.lang);
}

std::vector<MenuEntry> FolderPane::CategoryPopupMenu(TreeItem item) const {
    return CategoryMenu(folders_, ctx_.lang, item);
}

bool FolderPane::CategoryCommand(int id, TreeItem item) {
    CategoryCommandEnv env{ctx_.registry, ctx_.lang, questions_,
                           [this](EdtCatDlg& dialog) { host_.RunCategoryNameDialog(dialog); }};
    bool changed = false;
    if (id == ID_CATEGORY_NEW) {
        changed = AddCategory(env, folders_, item);
    } else if (id == ID_CATEGORY_EDIT) {
        changed = RenameCategory(env, folders_, item);
    } else if (id == ID_CATEGORY_DELETE) {
        changed = DeleteCategory(env, folders_, item);
    }
    if (changed) {
        host_.OnModelChanged(partFolders);
    }
    return changed;
}

}  // namespace vardane
