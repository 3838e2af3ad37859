// The main window: renders MainFrame (menus, toolbar, folder tree, task
// list, log tree and list, speed display and limit) and hands every user
// action back to it. It decides nothing a model test could check.
#pragma once

#include <QMainWindow>
#include <functional>
#include <string>
#include <vector>

#include "app/menus.h"
#include "dialogs/tree_model.h"
#include "gui/link_drop.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QMenu;
class QSlider;
class QTabWidget;
class QTableView;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vardane {
class MainFrame;
}

namespace vardane::gui {

class TaskListModel;
class TaskListView;

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    // onClose runs once when the window closes (it shuts the frame down).
    MainWindow(MainFrame& frame, std::function<void()> onClose);
    ~MainWindow() override;

    // The frame's OnModelChanged parts, rendered.
    void Render(unsigned parts);

    TaskListModel& Model() { return *model_; }
    QTableView& TaskTable();
    QTreeWidget& FolderTree() { return *folderTree_; }
    // The pop-up menu the task list shows at a tap (built fresh each time).
    std::vector<MenuEntry> TaskPopupEntries() const;
    // Runs a menu, toolbar or pop-up command on the current selection.
    void RunCommand(int id);
    // Shows the folder tree item's view, as a tap on it does.
    void TapFolder(TreeItem item);

    // Asked at each close but the explicit quit: true hides the window
    // instead (the program goes on in the tray).
    void SetHideOnClose(std::function<bool()> hideOnClose) {
        hideOnClose_ = std::move(hideOnClose);
    }
    // Closes the window for good (Exit, the tray's quit, a signal).
    void Quit();
    // Links dropped on the window or pasted with Ctrl+V.
    void SetLinkHandler(std::function<void(const DroppedLinks&)> handler) {
        linkHandler_ = std::move(handler);
    }
    // Ctrl+V: the clipboard's links.
    void PasteLinks();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void BuildWidgets();
    QWidget* BuildHeaderBar();
    QWidget* BuildLogPage();
    void BuildStatusLine();
    void BuildViewMenu();
    void ShowTotalSpeed();
    void FillMenus();
    void FillToolbar();
    void FillFolderTree();
    void FillLogTree();
    void FillLogList();
    void RelabelStatic();
    void FollowView();
    void SyncSelectionToFrame();
    void SelectFrameRowsInView();
    QMenu* MakeMenu(const std::vector<MenuEntry>& entries, QWidget* parent);
    // A menu entry's text with its access key.
    QString MenuText(const MenuEntry& entry) const;

    MainFrame& frame_;
    std::function<void()> onClose_;
    TaskListModel* model_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* controlMenu_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    QAction* readableUnits_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QToolButton* folderButton_ = nullptr;
    QLabel* fileCount_ = nullptr;
    QTreeWidget* folderTree_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    TaskListView* table_ = nullptr;
    QTreeWidget* logTree_ = nullptr;
    QListWidget* logList_ = nullptr;
    unsigned logGeneration_ = ~0u;  // of the frame's log list shown
    QLabel* totalSpeed_ = nullptr;
    QCheckBox* limitCheck_ = nullptr;
    QSlider* limitSlider_ = nullptr;
    // The view and category the model shows.
    int shownView_ = -1;
    std::string shownCategory_;
    bool syncing_ = false;
    bool followPending_ = false;
    bool closed_ = false;
    bool quitting_ = false;
    std::function<bool()> hideOnClose_;
    std::function<void(const DroppedLinks&)> linkHandler_;
};

}  // namespace vardane::gui
