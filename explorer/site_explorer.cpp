#include "explorer/site_explorer.h"

#include "dialogs/message_box.h"
#include "net/connection_owner.h"
#include "platform/file.h"
#include "platform/text.h"
#include "platform/window_loop.h"
#include "settings/app_context.h"
#include "task/url.h"

namespace vardane {

namespace {

constexpr int kSiteIcon = 2;
constexpr int kFolderIcon = 0;

}  // namespace

SiteExplorer::SiteExplorer(AppContext& ctx, WindowLoop& loop, IQuestions& questions,
                           IExplorerHost& host)
    : ctx_(ctx), loop_(loop), questions_(questions), host_(host) {
    LoadSiteList();
    client_ = std::make_unique<ExplorerClient>(ctx_, static_cast<IExplorerWindow*>(this));
}

SiteExplorer::~SiteExplorer() {
    client_->PostQuit();
    while (!client_->Finished()) {
        loop_.WaitAndPump(kWaitMillis);
    }
    client_->Join();
}

void SiteExplorer::LoadSiteList() {
    sites_ = LoadSites(ctx_);
}

bool SiteExplorer::Confirm(const std::string& text) {
    return ShowMessage(questions_, ctx_.lang, text, QuestionIcon::Question, QuestionButtons::YesNo,
                       QuestionAnswer::No) == QuestionAnswer::Yes;
}

bool SiteExplorer::OpenSite(int row) {
    if (row < 0 || row >= static_cast<int>(sites_.size())) {
        return false;
    }
    const SiteEntry& site = sites_[static_cast<size_t>(row)];
    if (!Confirm(ctx_.lang.GetLangText("SiteExp_GogoConfirm") + " " + site.Name + "?")) {
        return false;
    }
    sitesVisible_ = false;
    if (EqualsNoCase(site.Url, siteUrl_)) {
        return false;  // already open
    }
    siteUrl_ = site.Url;
    siteName_ = site.Name;
    site_ = SiteAddress{};
    // The site's own folder is the root: it is listed first, and the tree
    // and the addresses of its entries start there.
    sitePath_ = ParseSiteUrl(siteUrl_, site_, true) ? PercentDecode(site_.path) : "/";
    rows_.clear();
    log_.clear();
    tree_.Clear();
    const TreeItem root = tree_.Insert(kNoItem, siteName_, kSiteIcon);
    tree_.Expand(root);
    client_->PostConnect(siteUrl_);
    busy_ = false;
    tree_.Select(root);
    SelectFolder(root);
    return true;
}

bool SiteExplorer::DeleteSiteRow(int row) {
    if (row < 0 || row >= static_cast<int>(sites_.size()) ||
        !Confirm(ctx_.lang.GetLangText("Msg_SiteDelConf"))) {
        return false;
    }
    DeleteSite(ctx_, row + 1);
    LoadSiteList();
    return true;
}

std::string SiteExplorer::FolderPath(TreeItem item) const {
    std::string path = "/";
    std::vector<std::string> names;
    for (TreeItem i = item; i != kNoItem && tree_.Parent(i) != kNoItem; i = tree_.Parent(i)) {
        names.push_back(tree_.Text(i));
    }
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        path += *it + "/";
    }
    return path;
}

void SiteExplorer::SelectFolder(TreeItem item) {
    if (busy_ || !tree_.Exists(item)) {
        return;
    }
    folder_ = item;
    tree_.Select(item);
    tree_.DeleteChildren(item);
    rows_.clear();
    treeVisible_ = false;
    client_->PostCwd(EncodeUrlPath(ServerPath(item)));
}

void SiteExplorer::TapRow(int row) {
    treeVisible_ = sitesVisible_ = false;
    if (row < 0 || row >= static_cast<int>(rows_.size()) ||
        !rows_[static_cast<size_t>(row)].Folder) {
        return;
    }
    for (TreeItem child : tree_.Children(folder_)) {
        if (tree_.Text(child) == rows_[static_cast<size_t>(row)].Name) {
            SelectFolder(child);
            return;
        }
    }
}

void SiteExplorer::Up() {
    if (folder_ != kNoItem && tree_.Parent(folder_) != kNoItem) {
        SelectFolder(tree_.Parent(folder_));
    }
}

void SiteExplorer::Refresh() {
    if (siteUrl_.empty()) {
        return;
    }
    rows_.clear();
    tree_.DeleteChildren(folder_);
    client_->PostReset();
}

void SiteExplorer::SelectAll() {
    for (ExplorerRow& r : rows_) {
        r.Selected = true;
    }
}

void SiteExplorer::SetRowSelected(int row, bool selected) {
    if (row >= 0 && row < static_cast<int>(rows_.size())) {
        rows_[static_cast<size_t>(row)].Selected = selected;
    }
}

std::string SiteExplorer::ServerPath(TreeItem item) const {
    return sitePath_ + FolderPath(item).substr(1);
}

std::string SiteExplorer::RowUrl(int row) const {
    const ExplorerRow& r = rows_[static_cast<size_t>(row)];
    return EntryUrl(site_, ServerPath(folder_), r.Name, r.Folder);
}

std::string SiteExplorer::CopyUrl() {
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].Selected) {
            std::string url = RowUrl(static_cast<int>(i));
            host_.SetClipboardText(url);
            return url;
        }
    }
    return {};
}

int SiteExplorer::Download() {
    std::string folder = ctx_.settings.DownloadFolder.empty()
                             ? std::string()
                             : WithTrailingSlash(ctx_.settings.DownloadFolder);
    // Files keep the site's folder layout below a folder named after the site.
    folder += siteName_ + FolderPath(folder_);
    int count = 0;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].Selected && !rows_[i].Folder &&
            host_.AddExplorerTask(folder, RowUrl(static_cast<int>(i))) == IExplorerHost::added) {
            ++count;
        }
    }
    ShowMessage(questions_, ctx_.lang,
                IntToText(count) + " " + ctx_.lang.GetCountText("SiteExp_DownloadFiles", count),
                QuestionIcon::Information);
    return count;
}

void SiteExplorer::OnExplorerLog(LogKind kind, const std::string& text) {
    loop_.Send([&] { HandleLog(kind, text); });
}

void SiteExplorer::OnExplorerBusy() {
    loop_.Send([&] { busy_ = true; });
}

void SiteExplorer::OnExplorerIdle() {
    loop_.Send([&] { busy_ = false; });
}

void SiteExplorer::HandleLog(LogKind kind, const std::string& text) {
    if (log_.size() >= kMaxLogLines) {
        log_.clear();
    }
    static constexpr int kIcons[] = {4, 5, 6, 7, 5};  // by kind
    const int icon = kIcons[static_cast<int>(kind)];
    log_.push_back({icon, text.size() > kMaxLogText ? text.substr(0, kMaxLogText) : text});
    if (kind == LogKind::Listing) {
        AddListingLine(text);
    }
}

// Folders go above the files and into the tree; names that cannot stand as
// one path component ("..", "a/b", control characters) stay in the log only,
// so no task can be made to write outside its folder.
void SiteExplorer::AddListingLine(const std::string& text) {
    ListEntry entry;
    if (!ParseListEntry(text, entry) || !IsSafeEntryName(entry.name) || folder_ == kNoItem) {
        return;
    }
    if (entry.type == EntryType::Folder) {
        size_t firstFile = 0;
        while (firstFile < rows_.size() && rows_[firstFile].Folder) {
            ++firstFile;
        }
        rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(firstFile),
                     ExplorerRow{entry.name, "0", true, false});
        const TreeItem child = tree_.Insert(folder_, entry.name, kFolderIcon);
        tree_.Insert(child, "Temp", kFolderIcon);
        tree_.Expand(folder_);
        return;
    }
    // A link is offered as a file: what it points to is fetched.
    rows_.push_back(
        ExplorerRow{entry.name, entry.size >= 0 ? IntToText(entry.size) : std::string(), false});
}

}  // namespace vardane
