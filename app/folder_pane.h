// The window around the task list: the title, the folder tree with the view
// and category it selects, the menus of the view shown and the tabs.
//
// Threading: every member runs on the window thread.
#pragma once

#include <string>
#include <vector>

#include "app/menus.h"
#include "dialogs/tree_model.h"

namespace vardane {

struct AppContext;
class IMainFrameHost;
class IQuestions;

class FolderPane {
  public:
    FolderPane(AppContext& ctx, IMainFrameHost& host, IQuestions& questions);

    // The title, menus and folder tree of the current language and registry.
    void Build();
    // The current language changed: title, folder names and menus follow.
    void Relabel();

    TaskView CurrentView() const { return view_; }
    // Shows view: its folder node is selected and the menus follow.
    void ShowView(TaskView view);
    // Selects the folder tree item (a tap) and the view it belongs to; the
    // root selects Downloading. False when there is no such item.
    bool SelectItem(TreeItem item);
    void ToggleFolderTree();
    void SelectTab(int tab);

    // The view and category key ("" the whole view) of a folder tree item.
    TaskView ViewOfFolder(TreeItem item) const;
    std::string CategoryOfFolder(TreeItem item) const;
    // The category of the selected item ("" the whole view).
    std::string CategoryFilter() const;
    // Context menus at a tap (the point stays with the front end).
    std::vector<MenuEntry> TaskPopupMenu() const;
    std::vector<MenuEntry> CategoryPopupMenu(TreeItem item) const;
    // Category commands of the folder tree pop-up on item; true when the tree
    // and the registry changed.
    bool CategoryCommand(int id, TreeItem item);

    const std::string& Title() const { return title_; }
    const TreeModel& Folders() const { return folders_; }
    bool FolderTreeVisible() const { return treeVisible_; }
    const std::string& FolderButtonText() const { return folderButtonText_; }
    int CurrentTab() const { return tab_; }
    const std::vector<MenuEntry>& FileMenu() const { return fileMenu_; }
    const std::vector<MenuEntry>& ControlMenu() const { return controlMenu_; }

  private:
    void RebuildMenus();

    AppContext& ctx_;
    IMainFrameHost& host_;
    IQuestions& questions_;
    std::string title_;
    TaskView view_ = TaskView::Downloading;
    TreeModel folders_;
    bool treeVisible_ = false;
    std::string folderButtonText_;
    int tab_ = 0;
    std::vector<MenuEntry> fileMenu_;
    std::vector<MenuEntry> controlMenu_;
};

}  // namespace vardane
