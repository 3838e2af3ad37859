#include "dialogs/edit_task_dialog.h"

#include <algorithm>
#include <utility>

#include "dialogs/category_tree.h"
#include "settings/app_context.h"
#include "settings/proxy_record.h"
#include "settings/registry_paths.h"
#include "settings/setting_value.h"
#include "task/download_task.h"
#include "task/progress_file.h"
#include "task/url.h"

namespace vardane {

namespace {

// A stored split or proxy number as a selection index. Thread counts outside
// 1..4 come to the nearest valid count: a task with no thread never runs.
int SplitIndex(int threads) {
    return std::clamp(threads, 1, 4) - 1;
}

int ProxyIndex(int number, size_t count) {
    return number >= 1 && static_cast<size_t>(number) <= count ? number - 1 : -1;
}

}  // namespace

EdtTaskDlg::EdtTaskDlg(AppContext& ctx, IQuestions& questions) : ctx_(ctx), questions_(questions) {
    static constexpr std::pair<std::string Labels::*, const char*> kLabelKeys[] = {
        {&Labels::Url, "EdtTaskDlg_URL"},         {&Labels::SaveTo, "EdtTaskDlg_SaveTo"},
        {&Labels::Rename, "EdtTaskDlg_Rename"},   {&Labels::Block, "EdtTaskDlg_Block"},
        {&Labels::Cat, "EdtTaskDlg_Cat"},         {&Labels::Login, "EdtTaskDlg_Login"},
        {&Labels::Uid, "EdtTaskDlg_Uid"},         {&Labels::Pwd, "EdtTaskDlg_Pwd"},
        {&Labels::Start, "EdtTaskDlg_Start"},     {&Labels::Immediately, "EdtTaskDlg_Immediately"},
        {&Labels::Manual, "EdtTaskDlg_Manual"},   {&Labels::Proxy, "EdtTaskDlg_Proxy"},
        {&Labels::Default, "EdtTaskDlg_Default"}, {&Labels::Ok, "Menu_General_Ok"},
        {&Labels::Cancel, "Menu_General_Cancel"}, {&Labels::Checksum, "EdtTaskDlg_Checksum"},
        {&Labels::Referer, "EdtTaskDlg_Referer"},
    };
    labels_.Title = ctx_.lang.GetAppTitle();
    for (const auto& [field, key] : kLabelKeys) {
        labels_.*field = ctx_.lang.GetLangText(key);
    }
}

const std::vector<std::string>& EdtTaskDlg::SplitEntries() {
    static const std::vector<std::string> entries = {"1", "2", "3", "4"};
    return entries;
}

void EdtTaskDlg::InitCommon() {
    const AppSettings& settings = ctx_.settings;
    split_ = SplitIndex(settings.ThreadCnt);
    saveTo_ = settings.DownloadFolder;
    immediately_ = settings.DownloadImmediately;
    LoadProxyNames();
}

void EdtTaskDlg::LoadProxyNames() {
    proxyNames_.clear();
    RegistryKey key(ctx_.registry);
    if (!key.Open(RegRoot::CurrentUser, GroupKeyPath("Proxy"), false)) {
        return;
    }
    const int count = SettingInt(key.QueryString("ProxyCnt"));
    for (int n = 1; n <= count; ++n) {
        const std::string text = key.QueryString("Proxy_" + IntToText(n));
        proxyNames_.push_back(ParseProxyRecord(text, ctx_.lang).Name);
    }
}

void EdtTaskDlg::InitNew(std::string url, std::string clipboardText) {
    newTask_ = true;
    taskId_.clear();
    checksum_.clear();
    headers_ = {};
    InitCommon();
    folderIndex_ = 0;
    categoryPath_ = std::string(kDefaultCategoryPath);
    proxyHttp_ = ProxyIndex(ctx_.settings.ProxyHTTP, proxyNames_.size());
    proxyFtp_ = ProxyIndex(ctx_.settings.ProxyFTP, proxyNames_.size());
    if (url.empty()) {
        url = std::move(clipboardText);
    }
    url_ = url;
    if (!url.empty()) {
        OnUrlChanged(std::move(url));
    }
    FillCategoryTree(categoryPath_);
}

void EdtTaskDlg::InitEdit(std::string taskId) {
    newTask_ = false;
    taskId_ = std::move(taskId);
    InitCommon();
    const TaskProgressRecord record = ReadProgress(ProgressFilePath(ctx_.AppDir(), taskId_));
    folderIndex_ = SettingInt(record.Folder);
    if (FolderKeyName(folderIndex_).empty()) {
        folderIndex_ = 0;  // a hand-edited record: show the downloading folder
    }
    categoryPath_ = record.Cat;
    OnUrlChanged(record.BaseURL);
    saveTo_ = record.LocalDir;
    fileName_ = record.LocalFileName;
    split_ = SplitIndex(SettingInt(record.ThreadCount));
    proxyHttp_ = ProxyIndex(SettingInt(record.ProxyHTTP), proxyNames_.size());
    proxyFtp_ = ProxyIndex(SettingInt(record.ProxyFTP), proxyNames_.size());
    checksum_ = record.Checksum;
    headers_ = record.Headers;
    FillCategoryTree(categoryPath_);
}

void EdtTaskDlg::FillCategoryTree(const std::string& keyPath) {
    BuildTaskFolderTree(ctx_.registry, ctx_.lang, categoryTree_, folderIndex_);
    categoryText_.clear();
    const TreeItem item = FindCategoryItem(ctx_.registry, categoryTree_, keyPath);
    categoryTree_.Select(item);
    if (item != kNoItem) {
        categoryText_ = categoryTree_.Text(item);
    }
}

void EdtTaskDlg::OnUrlChanged(std::string text) {
    url_ = std::move(text);
    TaskDescriptor parsed;
    const bool valid = ParseUrlInto(parsed, url_);
    if (!parsed.User.empty()) {
        login_ = true;
        user_ = parsed.User;
        password_ = parsed.Password;
    }
    if (newTask_) {
        fileName_ = valid ? parsed.FileName : std::string();
    }
}

void EdtTaskDlg::OnBrowse(const RunBrowseDialog& run) {
    const std::string folder = BrowseForPath(ctx_.lang, "", run);
    if (!folder.empty()) {
        saveTo_ = folder;
    }
}

bool EdtTaskDlg::SetConnections(int count) {
    if (count < 1 || count > 4) {
        return false;
    }
    split_ = count - 1;
    return true;
}

bool EdtTaskDlg::SetProxyHttp(int number) {
    const int index = ProxyIndex(number, proxyNames_.size());
    if (index >= 0) {
        proxyHttp_ = index;
    }
    return index >= 0;
}

bool EdtTaskDlg::SetProxyFtp(int number) {
    const int index = ProxyIndex(number, proxyNames_.size());
    if (index >= 0) {
        proxyFtp_ = index;
    }
    return index >= 0;
}

void EdtTaskDlg::OnCategorySelected(TreeItem item, bool byMouse) {
    if (!categoryTree_.Exists(item)) {
        return;
    }
    if (categoryTree_.Parent(item) == kNoItem) {
        categoryTree_.Select(categoryTree_.FirstChild(item));
        return;
    }
    categoryTree_.Select(item);
    if (byMouse) {
        categoryText_ = categoryTree_.Text(item);
        categoryTreeShown_ = false;
    }
}

bool EdtTaskDlg::SelectCategory(std::string_view path) {
    TreeItem item = kNoItem;
    if (StartsWithNoCase(path, kCategoriesKey)) {
        item = FindCategoryItem(ctx_.registry, categoryTree_, path);
    } else {
        const TreeItem folder = categoryTree_.FirstChild(categoryTree_.Top());
        item = FindItemByTextPath(categoryTree_, path);
        if (item == kNoItem && folder != kNoItem) {
            item = FindItemByTextPath(categoryTree_,
                                      categoryTree_.Text(folder) + "\\" + std::string(path));
        }
    }
    if (item == kNoItem) {
        return false;
    }
    OnCategorySelected(item, true);
    return true;
}

std::string EdtTaskDlg::CategoryKeyPath() const {
    const TreeItem item = categoryTree_.Selected();
    if (item == kNoItem || categoryTree_.Parent(item) == kNoItem) {
        // Nothing chosen (the task's category is gone): keep what it had.
        return categoryPath_;
    }
    return TextPathToKeyPath(ctx_.registry, GetItemTextPath(categoryTree_, item).Path);
}

}  // namespace vardane
