// The category tree: categories live in the registry below kCategoriesKey
// (HKCU SOFTWARE\Vardane\Categories), one key per category, the key's unnamed value
// holding the display name. Tree items hold only their text; a selected item
// is turned back into its key path by matching texts against those values.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/menu_entry.h"
#include "dialogs/tree_model.h"
#include "lang/lang_table.h"
#include "platform/registry.h"
#include "settings/registry_paths.h"

namespace vardane {

// Icons of the folder tree: 0 the program (top item), 1 Downloading,
// 2 Completed, 3 Deleted; categories use an icon outside 1..3 so that the
// main window finds a node's view by walking up to the first folder icon.
inline constexpr int kProgramIcon = 0;
inline constexpr int kCategoryIcon = 18;

// Commands of the category pop-up menu.
inline constexpr int kCmdCategoryNew = 32830;
inline constexpr int kCmdCategoryEdit = 32831;
inline constexpr int kCmdCategoryDelete = 32832;

// Folder index (a task's Folder value, 0..2) to its registry key name
// ("Download", "Downloaded", "Deleted") and to the language key of its text.
// Empty for other indexes.
std::string_view FolderKeyName(int folderIndex);
std::string_view FolderTextKey(int folderIndex);

// Adds the sub-tree of keyPath (HKCU) below parent: each sub-key becomes an
// item with its unnamed value as text, sorted among its siblings. expand:
// also expand every filled item (the task dialog's tree).
void FillCategoryBranch(Registry& registry, TreeModel& tree, TreeItem parent,
                        const std::string& keyPath, bool expand);

// The texts from item up to, but not including, the top item, joined with
// '\'; Depth counts the top item as 1.
struct ItemTextPath {
    std::string Path;
    int Depth = 0;
};
ItemTextPath GetItemTextPath(const TreeModel& tree, TreeItem item);

// Walks the text path component by component from SOFTWARE\Vardane\Categories:
// the first sub-key whose unnamed value equals the component ignoring case
// extends the path; a component that matches nothing is skipped.
std::string TextPathToKeyPath(Registry& registry, std::string_view textPath);
// The same walk, but nothing when a component matches no sub-key: what
// changes the registry must not act on a shorter path than the item's.
std::optional<std::string> ResolveTextPath(Registry& registry, std::string_view textPath);

// The main window's folder tree: top item GetAppTitle() (icon 0, expanded)
// with the three folders (icons 1, 2, 3) and their categories.
void BuildMainFolderTree(Registry& registry, const LangTable& lang, TreeModel& tree);
// The task dialog's tree: top item GetAppTitle() with only the folder of
// folderIndex below it, everything expanded. Returns the folder item.
TreeItem BuildTaskFolderTree(Registry& registry, const LangTable& lang, TreeModel& tree,
                             int folderIndex);

// The first item (display order) whose key path equals keyPath ignoring case.
TreeItem FindCategoryItem(Registry& registry, const TreeModel& tree, std::string_view keyPath);
// The item named by a text path such as "Downloading\Music" (texts compared
// ignoring case, first match), starting below the top item.
TreeItem FindItemByTextPath(const TreeModel& tree, std::string_view textPath);

// The category pop-up menu for the item under the tap point: none on the
// top item, only "new" on a folder, new, edit and delete on a category.
std::vector<MenuEntry> CategoryMenu(const TreeModel& tree, const LangTable& lang, TreeItem item);

// Splits at every '\' (an empty text gives no components).
std::vector<std::string> SplitTextPath(std::string_view textPath);

}  // namespace vardane
