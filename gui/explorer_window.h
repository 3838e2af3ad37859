// The site explorer window: renders SiteExplorer (the saved sites, the
// folder tree of the open site, its file list and the client's log) and
// hands every user action back to it. It decides nothing a model test could
// check; the client's reports reach the model through the window loop, and
// Render shows them once the loop ran.
#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/question.h"
#include "explorer/site_explorer.h"

class QListWidget;
class QMenu;
class QTabWidget;
class QToolButton;
class QTreeWidget;

namespace vardane {
class MainFrame;
}

namespace vardane::gui {

// The explorer's menu and pop-up commands.
enum ExplorerCommand : int {
    ID_EXP_REFRESH = 32838,
    ID_EXP_DOWNLOAD = 32839,
    ID_EXP_COPY_URL = 32841,
    ID_EXP_EXIT = 32845,
    ID_EXP_SITE_NEW = 32850,
    ID_EXP_SITE_EDIT = 32851,
    ID_EXP_SITE_DELETE = 32852,
    ID_EXP_SITE_GO = 32853,
    ID_EXP_SELECT_ALL = 32854,
    ID_EXP_UP = 32859,
};

class ExplorerWindow : public QDialog {
    Q_OBJECT
  public:
    // Picked files become tasks of frame; questions asks the confirmations
    // and shows the download count.
    ExplorerWindow(QWidget* parent, MainFrame& frame, IQuestions& questions);
    ~ExplorerWindow() override;

    SiteExplorer& Model() { return *model_; }
    QTreeWidget& SiteList() { return *sites_; }
    QTreeWidget& FolderTree() { return *folders_; }
    QTreeWidget& FileList() { return *files_; }
    QListWidget& LogList() { return *log_; }

    // A menu or pop-up command on the current selections.
    void RunCommand(int id);
    // The pop-up menus' entries: (command, text), command 0 a separator.
    std::vector<std::pair<int, std::string>> SitePopupEntries() const;
    std::vector<std::pair<int, std::string>> FilePopupEntries() const;

  public Q_SLOTS:
    // Shows what changed in the model (after the window loop ran).
    void Render();

  private:
    void BuildWidgets();
    QWidget* BuildHeaderBar();
    void BuildMenuBar();
    void FillSites();
    void FillFolders();
    void FillFiles();
    void FillLog();
    void PushSelection();
    void ListFolderLater(TreeItem folder);
    int SiteRow() const;
    void EditSite(int number);
    void HideDropDowns();
    QMenu* MakeMenu(const std::vector<std::pair<int, std::string>>& entries);
    std::string Text(const char* key) const;

    // The model's questions: the wait cursor of a download goes before its
    // count is shown.
    class CursorQuestions : public IQuestions {
      public:
        explicit CursorQuestions(IQuestions& questions) : questions_(questions) {}
        QuestionAnswer Ask(const Question& question) override;
        bool waiting = false;

      private:
        IQuestions& questions_;
    };

    MainFrame& frame_;
    IQuestions& questions_;
    CursorQuestions modelQuestions_;
    std::unique_ptr<IExplorerHost> host_;
    std::unique_ptr<SiteExplorer> model_;  // after host_: it reports there
    QToolButton* foldersButton_ = nullptr;
    QToolButton* sitesButton_ = nullptr;
    QTreeWidget* sites_ = nullptr;
    QTreeWidget* folders_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QTreeWidget* files_ = nullptr;
    QListWidget* log_ = nullptr;
    std::vector<SiteEntry> shownSites_;
    uint64_t shownTreeRevision_ = ~uint64_t{0};
    bool rendering_ = false;
};

}  // namespace vardane::gui
