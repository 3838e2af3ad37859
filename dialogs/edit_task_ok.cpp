// The buttons of the task dialog that write: "Save as default" and OK.
#include <unistd.h>

#include <climits>
#include <mutex>

#include "dialogs/edit_task_dialog.h"
#include "dialogs/message_box.h"
#include "platform/file.h"
#include "platform/text.h"
#include "settings/app_context.h"
#include "settings/registry_paths.h"
#include "settings/setting_value.h"
#include "task/checksum.h"
#include "task/download_task.h"
#include "task/progress_file.h"
#include "task/task_list.h"
#include "task/url.h"

namespace vardane {

namespace {

constexpr std::string_view kFtpPrefix = "ftp://";

// An absolute folder ending with '/'. Relative folders are taken from the
// current folder now: a task may later run in a process started elsewhere.
std::string TargetFolder(std::string folder) {
    if (!folder.empty() && folder.front() != '/') {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) != nullptr) {
            folder = WithTrailingSlash(cwd) + folder;
        }
    }
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

}  // namespace

void EdtTaskDlg::SaveAsDefault() {
    std::lock_guard lock(ctx_.SpeedLock);
    AppSettings& settings = ctx_.settings;
    RegistryKey key(ctx_.registry);
    key.Open(RegRoot::CurrentUser, GroupKeyPath("Default"), true);

    settings.DownloadFolder = saveTo_;
    key.SetString("DownloadFolder", saveTo_);
    settings.DownloadImmediately = immediately_;
    key.SetString("DownloadImmediately", FlagText(immediately_));
    settings.ThreadCnt = split_ + 1;
    key.SetString("ThreadCnt", IntToText(split_ + 1));
    settings.ProxyHTTP = proxyHttp_ + 1;
    key.SetString("ProxyHTTP", IntToText(proxyHttp_ + 1));
    settings.ProxyFTP = proxyFtp_ + 1;
    key.SetString("ProxyFTP", IntToText(proxyFtp_ + 1));
}

bool EdtTaskDlg::Refuse(std::string text, QuestionIcon icon, const char* field) {
    focusField_ = field;
    ShowMessage(questions_, ctx_.lang, std::move(text), icon, QuestionButtons::Ok,
                QuestionAnswer::Ok, field);
    return false;
}

std::string EdtTaskDlg::BuildFinalUrl() const {
    if (!StartsWithNoCase(url_, kFtpPrefix)) {
        return url_;
    }
    const bool withLogin = login_ && !user_.empty() && !password_.empty();
    return WithLogin(url_, withLogin ? user_ : "", withLogin ? password_ : "");
}

bool EdtTaskDlg::Validate() {
    const LangTable& lang = ctx_.lang;
    TaskDescriptor parsed;
    if (!ParseUrlInto(parsed, url_) || HasControlCharacter(url_)) {
        return Refuse(lang.GetLangText("Msg_InvalidURL"), QuestionIcon::Error, kFieldUrl);
    }
    // The address as typed, and as it would be stored with the dialog's login.
    const std::string finalUrl = BuildFinalUrl();
    auto queued = [this](const std::string& url) {
        return lookup_ != nullptr ? !lookup_->DownloadingTaskOfUrl(url).empty()
                                  : IsUrlInDownloadList(ctx_, url);
    };
    if (newTask_ && (queued(url_) || (finalUrl != url_ && queued(finalUrl)))) {
        return Refuse(lang.GetLangText("Msg_TaskExists"), QuestionIcon::Exclamation, kFieldUrl);
    }
    const bool running = lookup_ != nullptr
                             ? lookup_->IsTaskRunning(taskId_)
                             : GetTaskState(ctx_.AppDir(), taskId_) == TaskState::Running;
    if (!newTask_ && running) {
        return Refuse(lang.GetLangText("Msg_StopBeforeEdit"), QuestionIcon::Exclamation, "");
    }
    if (StartsWithNoCase(url_, kFtpPrefix) && login_) {
        // The message names what is missing, and the focus goes to that edit.
        // A ':' or '@' in the login is percent-encoded into the address.
        const std::string invalidUid = lang.GetLangText("EdtTaskDlg_InvalidUID");
        const std::string invalidPwd = lang.GetLangText("EdtTaskDlg_InvalidPwd");
        if (!user_.empty() && password_.empty()) {
            return Refuse(invalidPwd, QuestionIcon::Exclamation, kFieldPwd);
        }
        if (user_.empty() && !password_.empty()) {
            return Refuse(invalidUid, QuestionIcon::Exclamation, kFieldUid);
        }
        if (HasControlCharacter(user_)) {
            return Refuse(invalidUid, QuestionIcon::Exclamation, kFieldUid);
        }
        if (HasControlCharacter(password_)) {
            return Refuse(invalidPwd, QuestionIcon::Exclamation, kFieldPwd);
        }
    }
    const bool checksumGiven = checksum_.find_first_not_of(" \t") != std::string::npos;
    if (checksumGiven && !ParseChecksumText(checksum_).Sum) {
        return Refuse(lang.GetLangText("EdtTaskDlg_InvalidChecksum"), QuestionIcon::Exclamation,
                      kFieldChecksum);
    }
    if (!RequestHeadersUsable(headers_)) {
        return Refuse(lang.GetLangText("EdtTaskDlg_InvalidHeader"), QuestionIcon::Exclamation,
                      kFieldHeaders);
    }
    return true;
}

bool EdtTaskDlg::Apply() {
    const std::string folder = TargetFolder(saveTo_);
    const std::string id = newTask_ ? MakeTaskId(ctx_.AppDir()) : taskId_;
    const std::string progressPath = ProgressFilePath(ctx_.AppDir(), id);

    TaskProgressRecord record = newTask_ ? TaskProgressRecord{} : ReadProgress(progressPath);
    record.BaseURL = finalUrl_;
    record.LocalDir = folder;
    record.LocalFileName = fileName_;
    record.ProxyHTTP = IntToText(proxyHttp_ + 1);
    record.ProxyFTP = IntToText(proxyFtp_ + 1);
    record.State = IntToText(StoredState(TaskState::Stopped));
    record.ThreadCount = IntToText(split_ + 1);
    record.Folder = IntToText(folderIndex_);
    if (newTask_) {
        record.LocalTempFileName.clear();
    }
    record.Cat = CategoryKeyPath();
    const ChecksumParse checksum = ParseChecksumText(checksum_);
    record.Checksum = checksum.Sum ? ChecksumText(*checksum.Sum) : "";
    record.Headers = headers_;
    // The progress file first: a list line must never name a task that has
    // no progress file. A new task's two files are flushed by the frame once
    // its download has started (TaskOperations::Added), so that beside a
    // busy disk the first bytes do not wait for four flushes.
    const Durability durability = newTask_ ? Durability::Deferred : Durability::Now;
    if (!WriteProgress(record, progressPath, durability)) {
        writeFailed_ = true;
        return false;
    }
    if (newTask_ && lookup_ == nullptr) {
        std::lock_guard lock(ctx_.ListLock);
        if (!AppendListLine(ListFilePath(ctx_.AppDir(), TaskList::Downloading), id, durability)) {
            // A progress file no list names would be an orphan.
            RemoveFile(progressPath);
            writeFailed_ = true;
            return false;
        }
    }
    taskId_ = id;
    url_ = finalUrl_;
    startImmediately_ = immediately_;
    accepted_ = true;
    folderNotCreated_ = MakeDirectories(folder) ? "" : folder;
    return true;
}

bool EdtTaskDlg::Ok() {
    focusField_.clear();
    writeFailed_ = false;
    if (!Validate()) {
        return false;
    }
    finalUrl_ = BuildFinalUrl();
    return Apply();
}

}  // namespace vardane
