// The site explorer window as a model: the saved sites, the folder tree of
// the open site, the file list built from the listing lines, the log list,
// the busy state, the URL of a row and the download of the selected files.
// It does no networking: it drives its ExplorerClient and shows what the
// client reports.
//
// Threading: every public member runs on the window thread (the thread bound
// to the loop). The client's reports arrive through the loop with Send.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/tree_model.h"
#include "explorer/explorer_client.h"
#include "explorer/list_line.h"
#include "explorer/site_list.h"

namespace vardane {

class WindowLoop;
class IQuestions;

// What the explorer asks of the main window.
class IExplorerHost {
  public:
    virtual ~IExplorerHost() = default;
    enum AddResult { added = 0, alreadyQueued = 1, failed = 2 };
    // one file to download into folder.
    virtual int AddExplorerTask(const std::string& folder, const std::string& url) = 0;
    virtual void SetClipboardText(const std::string& text) = 0;
};

struct ExplorerRow {
    std::string Name;
    std::string SizeText;  // "0" for a folder, "" when the listing gave none
    bool Folder = false;
    bool Selected = false;
    int Icon() const { return Folder ? 0 : 1; }
};

struct ExplorerLogLine {
    int Icon;  // 4 sent, 5 received or listing, 6 information, 7 error
    std::string Text;
};

class SiteExplorer : private IExplorerWindow {
  public:
    static constexpr size_t kMaxLogLines = 255;
    // A longer log line is cut (a hostile listing line of megabytes).
    static constexpr size_t kMaxLogText = 1024;
    static constexpr int kIconIdle = 8;
    static constexpr int kIconBusy = 9;

    // Loads the site list and starts the client thread.
    SiteExplorer(AppContext& ctx, WindowLoop& loop, IQuestions& questions, IExplorerHost& host);
    // Ends the client, pumping the loop meanwhile (it may be sending).
    ~SiteExplorer() override;
    SiteExplorer(const SiteExplorer&) = delete;
    SiteExplorer& operator=(const SiteExplorer&) = delete;

    // --- Site list -------------------------------------------------------
    void LoadSiteList();
    const std::vector<SiteEntry>& Sites() const { return sites_; }
    // Asks, then opens site row (0-based). False when not opened.
    bool OpenSite(int row);
    // Asks, then deletes site row and reloads the list.
    bool DeleteSiteRow(int row);

    // --- Folders and files -------------------------------------------------
    // A tree selection: lists that folder (ignored while busy).
    void SelectFolder(TreeItem item);
    void TapRow(int row);
    void Up();
    void Refresh();
    void SelectAll();
    void SetRowSelected(int row, bool selected);
    // Below the site's folder: "/" for the root, else "/a/b/" (also the
    // layout below the local folder named after the site).
    std::string FolderPath(TreeItem item) const;
    // The folder on the server: the site's path (decoded) + FolderPath.
    std::string ServerPath(TreeItem item) const;
    // The address of a row: the site's origin + its encoded server path.
    std::string RowUrl(int row) const;
    // Puts the first selected row's URL on the clipboard; returns it.
    std::string CopyUrl();
    // Adds a task for every selected file; returns how many were added.
    int Download();

    // The two drop-downs of the header buttons.
    void ToggleFolderTree() { treeVisible_ = !treeVisible_; }
    void ToggleSiteList() { sitesVisible_ = !sitesVisible_; }

    // --- What the front end shows -----------------------------------------
    bool FolderTreeVisible() const { return treeVisible_; }
    bool SiteListVisible() const { return sitesVisible_; }
    bool Busy() const { return busy_; }
    int FoldersButtonIcon() const { return busy_ ? kIconBusy : kIconIdle; }
    const TreeModel& Folders() const { return tree_; }
    TreeItem CurrentFolder() const { return folder_; }
    const std::vector<ExplorerRow>& Rows() const { return rows_; }
    const std::vector<ExplorerLogLine>& LogLines() const { return log_; }
    const std::string& SiteUrl() const { return siteUrl_; }
    const std::string& SiteName() const { return siteName_; }

  private:
    void OnExplorerLog(LogKind kind, const std::string& text) override;
    void OnExplorerBusy() override;
    void OnExplorerIdle() override;
    void HandleLog(LogKind kind, const std::string& text);
    void AddListingLine(const std::string& text);
    bool Confirm(const std::string& text);

    AppContext& ctx_;
    WindowLoop& loop_;
    IQuestions& questions_;
    IExplorerHost& host_;
    std::vector<SiteEntry> sites_;
    TreeModel tree_;
    TreeItem folder_ = kNoItem;
    std::vector<ExplorerRow> rows_;
    std::vector<ExplorerLogLine> log_;
    std::string siteUrl_, siteName_;
    SiteAddress site_;
    std::string sitePath_ = "/";
    bool busy_ = false;
    bool treeVisible_ = false;
    bool sitesVisible_ = false;
    std::unique_ptr<ExplorerClient> client_;  // last: its thread calls into the above
};

}  // namespace vardane
