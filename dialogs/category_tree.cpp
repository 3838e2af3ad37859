#include "dialogs/category_tree.h"

#include <array>

#include "platform/text.h"

namespace vardane {

namespace {

constexpr std::array<std::string_view, 3> kFolderKeys = {"Download", "Downloaded", "Deleted"};
constexpr std::array<std::string_view, 3> kFolderTexts = {
    "MainDlg_Folder_Downloading", "MainDlg_Folder_Completed", "MainDlg_Folder_Deleted"};

std::string JoinKey(std::string_view parent, std::string_view name) {
    std::string path(parent);
    path += '\\';
    path += name;
    return path;
}

// One step of the text path walk: the key path of the first sub-key of
// keyPath whose unnamed value equals text ignoring case.
std::optional<std::string> MatchSubKey(Registry& registry, const std::string& keyPath,
                                       std::string_view text) {
    RegistryKey key(registry);
    if (!key.Open(RegRoot::CurrentUser, keyPath, false)) {
        return std::nullopt;
    }
    std::string name;
    for (int index = 0; key.EnumSubKey(index, name); ++index) {
        const std::string childPath = JoinKey(keyPath, name);
        RegistryKey child(registry);
        child.Open(RegRoot::CurrentUser, childPath, false);
        if (EqualsNoCase(child.QueryDefault(), text)) {
            return childPath;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string_view FolderKeyName(int folderIndex) {
    return folderIndex >= 0 && folderIndex < 3 ? kFolderKeys[folderIndex] : std::string_view();
}

std::string_view FolderTextKey(int folderIndex) {
    return folderIndex >= 0 && folderIndex < 3 ? kFolderTexts[folderIndex] : std::string_view();
}

std::vector<std::string> SplitTextPath(std::string_view textPath) {
    std::vector<std::string> parts;
    if (textPath.empty()) {
        return parts;
    }
    size_t start = 0;
    for (size_t pos; (pos = textPath.find('\\', start)) != std::string_view::npos;
         start = pos + 1) {
        parts.emplace_back(textPath.substr(start, pos - start));
    }
    parts.emplace_back(textPath.substr(start));
    return parts;
}

void FillCategoryBranch(Registry& registry, TreeModel& tree, TreeItem parent,
                        const std::string& keyPath, bool expand) {
    RegistryKey key(registry);
    if (key.Open(RegRoot::CurrentUser, keyPath, false)) {
        std::string name;
        for (int index = 0; key.EnumSubKey(index, name); ++index) {
            const std::string childPath = JoinKey(keyPath, name);
            RegistryKey child(registry);
            child.Open(RegRoot::CurrentUser, childPath, false);
            const TreeItem item = tree.Insert(parent, child.QueryDefault(), kCategoryIcon, true);
            FillCategoryBranch(registry, tree, item, childPath, expand);
        }
    }
    tree.SortChildren(parent);
    if (expand) {
        tree.Expand(parent);
    }
}

ItemTextPath GetItemTextPath(const TreeModel& tree, TreeItem item) {
    ItemTextPath result;
    result.Depth = tree.Depth(item);
    for (; tree.Exists(item) && tree.Parent(item) != kNoItem; item = tree.Parent(item)) {
        result.Path = result.Path.empty() ? tree.Text(item) : tree.Text(item) + "\\" + result.Path;
    }
    return result;
}

std::optional<std::string> ResolveTextPath(Registry& registry, std::string_view textPath) {
    std::string keyPath(kCategoriesKey);
    for (const std::string& part : SplitTextPath(textPath)) {
        std::optional<std::string> next = MatchSubKey(registry, keyPath, part);
        if (!next) {
            return std::nullopt;
        }
        keyPath = std::move(*next);
    }
    return keyPath;
}

std::string TextPathToKeyPath(Registry& registry, std::string_view textPath) {
    std::string keyPath(kCategoriesKey);
    for (const std::string& part : SplitTextPath(textPath)) {
        if (std::optional<std::string> next = MatchSubKey(registry, keyPath, part)) {
            keyPath = std::move(*next);
        }
    }
    return keyPath;
}

void BuildMainFolderTree(Registry& registry, const LangTable& lang, TreeModel& tree) {
    tree.Clear();
    const TreeItem top = tree.Insert(kNoItem, lang.GetAppTitle(), kProgramIcon);
    for (int folder = 0; folder < 3; ++folder) {
        const TreeItem item = tree.Insert(top, lang.GetLangText(FolderTextKey(folder)), folder + 1);
        FillCategoryBranch(registry, tree, item, JoinKey(kCategoriesKey, FolderKeyName(folder)),
                           false);
    }
    tree.Expand(top);
}

TreeItem BuildTaskFolderTree(Registry& registry, const LangTable& lang, TreeModel& tree,
                             int folderIndex) {
    tree.Clear();
    const TreeItem top = tree.Insert(kNoItem, lang.GetAppTitle(), kProgramIcon);
    const TreeItem item =
        tree.Insert(top, lang.GetLangText(FolderTextKey(folderIndex)), folderIndex + 1);
    FillCategoryBranch(registry, tree, item, JoinKey(kCategoriesKey, FolderKeyName(folderIndex)),
                       true);
    tree.Expand(top);
    return item;
}

TreeItem FindCategoryItem(Registry& registry, const TreeModel& tree, std::string_view keyPath) {
    for (TreeItem item : tree.AllItems()) {
        if (tree.Parent(item) == kNoItem) {
            continue;  // the top item stands for no category
        }
        const std::string path = TextPathToKeyPath(registry, GetItemTextPath(tree, item).Path);
        if (EqualsNoCase(path, keyPath)) {
            return item;
        }
    }
    return kNoItem;
}

TreeItem FindItemByTextPath(const TreeModel& tree, std::string_view textPath) {
    TreeItem item = tree.Top();
    const std::vector<std::string> parts = SplitTextPath(textPath);
    if (parts.empty()) {
        return kNoItem;
    }
    for (const std::string& part : parts) {
        TreeItem found = kNoItem;
        for (TreeItem child : tree.Children(item)) {
            if (EqualsNoCase(tree.Text(child), part)) {
                found = child;
                break;
            }
        }
        if (found == kNoItem) {
            return kNoItem;
        }
        item = found;
    }
    return item;
}

std::vector<MenuEntry> CategoryMenu(const TreeModel& tree, const LangTable& lang, TreeItem item) {
    std::vector<MenuEntry> menu;
    const int depth = tree.Depth(item);
    if (depth >= 2) {
        menu.push_back({lang.GetLangText("MainDlg_Folder_New"), kCmdCategoryNew});
    }
    if (depth >= 3) {
        menu.push_back({lang.GetLangText("MainDlg_Folder_Edit"), kCmdCategoryEdit});
        menu.push_back({lang.GetLangText("MainDlg_Folder_Delete"), kCmdCategoryDelete});
    }
    return menu;
}

}  // namespace vardane
