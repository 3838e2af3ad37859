// BrowseDlg: picks a folder, or a file of given types, from a lazily filled
// tree of the file system. Folder paths end with '/', file paths do not.
#pragma once

#include <functional>
#include <string>

#include "dialogs/tree_model.h"
#include "lang/lang_table.h"

namespace vardane {

class BrowseDlg {
  public:
    static constexpr int kIconRoot = 0;
    static constexpr int kIconFolder = 1;
    static constexpr int kIconOpenFolder = 2;
    static constexpr int kIconFile = 3;
    // Text of the child a folder carries until it is read; no real entry can
    // be named like this, since names never hold '/'.
    static constexpr const char* kPlaceholder = ".\\//";

    // filter: patterns such as "*.wav;" ("*", the extension with its dot,
    // ";"), matched ignoring case; empty: folders only. Builds the root item
    // "/" and reads it.
    BrowseDlg(const LangTable& lang, std::string filter);

    const std::string& Caption() const { return caption_; }
    const std::string& Description() const { return description_; }
    const std::string& Filter() const { return filter_; }

    const TreeModel& Tree() const { return tree_; }
    TreeItem RootItem() const { return root_; }

    // The user expands (true) or collapses (false) item: an expanding folder
    // shows the open icon and is read the first time.
    void OnItemExpanding(TreeItem item, bool expand);
    void Select(TreeItem item) { tree_.Select(item); }

    // Path of an item: "/" for the root, folders end with '/'.
    std::string PathOf(TreeItem item) const;

    // Expands the folders along path (absolute) and the deepest item found,
    // and selects that item; returns it (the root when nothing below it matched). Lets a front
    // end open the tree at the current folder.
    TreeItem ExpandToPath(const std::string& path);

    // OK: the result is the path of the selected item ("" with none).
    void Ok();
    void Cancel() { result_.clear(); }
    const std::string& Result() const { return result_; }

  private:
    void Fill(TreeItem item, const std::string& path);
    bool FilterAccepts(const std::string& fileName) const;

    std::string filter_;
    std::string caption_;
    std::string description_;
    TreeModel tree_;
    TreeItem root_ = kNoItem;
    std::string result_;
};

// Shows the dialog modally (the front end's part) and returns when it closed.
using RunBrowseDialog = std::function<void(BrowseDlg&)>;

// Runs the browser with filter; the chosen path, or "" after Cancel.
std::string BrowseForPath(const LangTable& lang, const std::string& filter,
                          const RunBrowseDialog& run);

}  // namespace vardane
