#include "dialogs/browse_dialog.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "platform/text.h"

namespace vardane {

namespace {

struct DirListing {
    std::vector<std::string> folders;
    std::vector<std::string> files;
};

bool IsFolder(const std::string& dir, const dirent& entry) {
    if (entry.d_type == DT_DIR) {
        return true;
    }
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) {
        return false;
    }
    struct stat info {};
    return ::stat((dir + entry.d_name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Entries of dir (ending with '/'); a folder that cannot be read gives none.
DirListing ListFolder(const std::string& dir) {
    DirListing listing;
    DIR* handle = ::opendir(dir.c_str());
    if (handle == nullptr) {
        return listing;
    }
    while (const dirent* entry = ::readdir(handle)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        (IsFolder(dir, *entry) ? listing.folders : listing.files).push_back(name);
    }
    ::closedir(handle);
    return listing;
}

void SortNoCase(std::vector<std::string>& names) {
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return CompareNoCase(a, b) < 0;
    });
}

}  // namespace

BrowseDlg::BrowseDlg(const LangTable& lang, std::string filter) : filter_(std::move(filter)) {
    caption_ = lang.GetLangText("BrowseDlg_Caption");
    if (!filter_.empty()) {
        caption_ += " " + filter_;
    }
    description_ = lang.GetLangText("BrowseDlg_Desp") + " " + filter_;
    root_ = tree_.Insert(kNoItem, "/", kIconRoot);
    Fill(root_, "/");
}

bool BrowseDlg::FilterAccepts(const std::string& fileName) const {
    // The extension starts at the first dot: "a.b.wav" has ".b.wav".
    const size_t dot = fileName.find('.');
    const std::string extension = dot == std::string::npos ? "" : fileName.substr(dot);
    return ToLowerAscii(filter_).find(ToLowerAscii("*" + extension + ";")) != std::string::npos;
}

void BrowseDlg::Fill(TreeItem item, const std::string& path) {
    const TreeItem first = tree_.FirstChild(item);
    if (first != kNoItem) {
        if (tree_.Text(first) != kPlaceholder) {
            tree_.Expand(item);  // read before
            return;
        }
        tree_.Delete(first);
    }
    DirListing listing = ListFolder(path);
    SortNoCase(listing.folders);
    for (std::string& name : listing.folders) {
        const TreeItem folder = tree_.Insert(item, std::move(name), kIconFolder, true);
        tree_.Insert(folder, kPlaceholder, kIconFolder);
    }
    if (!filter_.empty()) {
        std::erase_if(listing.files, [&](const std::string& name) { return !FilterAccepts(name); });
        SortNoCase(listing.files);
        for (std::string& name : listing.files) {
            tree_.Insert(item, std::move(name), kIconFile);
        }
    }
    tree_.Expand(item);
}

void BrowseDlg::OnItemExpanding(TreeItem item, bool expand) {
    if (!tree_.Exists(item) || tree_.Icon(item) == kIconFile) {
        return;
    }
    if (!expand) {
        if (item != root_) {
            tree_.SetIcon(item, kIconFolder);
        }
        tree_.Expand(item, false);
        return;
    }
    if (item != root_) {
        tree_.SetIcon(item, kIconOpenFolder);
    }
    const std::string path = PathOf(item);
    if (path == "/") {
        tree_.Expand(item);
    } else {
        Fill(item, path);
    }
}

std::string BrowseDlg::PathOf(TreeItem item) const {
    if (!tree_.Exists(item)) {
        return "";
    }
    if (item == root_) {
        return "/";
    }
    std::string path = tree_.Text(item);
    if (tree_.Icon(item) != kIconFile) {
        path += '/';
    }
    for (TreeItem parent = tree_.Parent(item); parent != kNoItem; parent = tree_.Parent(parent)) {
        path.insert(0, "/");
        if (parent != root_) {
            path.insert(0, tree_.Text(parent));
        }
    }
    return path;
}

TreeItem BrowseDlg::ExpandToPath(const std::string& path) {
    TreeItem item = root_;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty()) {
            continue;
        }
        OnItemExpanding(item, true);
        const std::vector<TreeItem>& children = tree_.Children(item);
        const auto found = std::find_if(children.begin(), children.end(),
                                        [&](TreeItem child) { return tree_.Text(child) == part; });
        if (found == children.end()) {
            break;
        }
        item = *found;
    }
    OnItemExpanding(item, true);
    tree_.Select(item);
    return item;
}

void BrowseDlg::Ok() {
    result_ = PathOf(tree_.Selected());
}

std::string BrowseForPath(const LangTable& lang, const std::string& filter,
                          const RunBrowseDialog& run) {
    BrowseDlg dialog(lang, filter);
    if (run) {
        run(dialog);
    }
    return dialog.Result();
}

}  // namespace vardane
