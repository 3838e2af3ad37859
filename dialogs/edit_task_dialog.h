// EdtTaskDlg: the new/edit task dialog as a model. The front end shows the
// fields, forwards every change and the buttons, and asks the user what the
// model asks through IQuestions. Without a display (vardane-cli) the caller
// sets the fields directly and calls Ok().
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dialogs/browse_dialog.h"
#include "dialogs/question.h"
#include "dialogs/tree_model.h"
#include "task/request_headers.h"
#include "task/task_lookup.h"

namespace vardane {

struct AppContext;

class EdtTaskDlg {
  public:
    // Fields named in Question::FocusField after a refusal.
    static constexpr const char* kFieldUrl = "URL";
    static constexpr const char* kFieldUid = "Uid";
    static constexpr const char* kFieldPwd = "Pwd";
    static constexpr const char* kFieldChecksum = "Checksum";
    static constexpr const char* kFieldHeaders = "Headers";

    // Localized texts of the title and the labels.
    struct Labels {
        std::string Title, Url, SaveTo, Rename, Block, Cat, Login, Uid, Pwd, Start, Immediately,
            Manual, Proxy, Default, Checksum, Referer;
        // The Ok/Cancel commands.
        std::string Ok, Cancel;
        std::string ProxyHttp = "Http";
        std::string ProxyFtp = "Ftp";
    };

    EdtTaskDlg(AppContext& ctx, IQuestions& questions);

    // Initialisation for a new task: url may be "", then clipboardText (what
    // the front end's clipboard holds, "" for none) is taken.
    void InitNew(std::string url, std::string clipboardText = "");
    // Where the duplicate and running checks ask (the task queue of the
    // data root's owner); without one they read the task files. With one a
    // new task's list line is left to that queue (the owner's TaskOperations::Added);
    // without one the dialog appends it to Downloading.lst itself.
    void SetTaskLookup(const ITaskLookup* lookup) { lookup_ = lookup; }
    // Initialisation for the properties of an existing task.
    void InitEdit(std::string taskId);

    const Labels& GetLabels() const { return labels_; }
    bool IsNewTask() const { return newTask_; }

    // URL edit: every change of its text. Fills the login data found in the
    // text and, for a new task, proposes the file name.
    const std::string& Url() const { return url_; }
    void OnUrlChanged(std::string text);

    const std::string& SaveTo() const { return saveTo_; }
    void SetSaveTo(std::string folder) { saveTo_ = std::move(folder); }
    // The browse button: a chosen folder replaces the save-to text.
    void OnBrowse(const RunBrowseDialog& run);
    const std::string& FileName() const { return fileName_; }
    void SetFileName(std::string name) { fileName_ = std::move(name); }

    // Split combo: entries "1".."4", selection index 0..3.
    static const std::vector<std::string>& SplitEntries();
    int SplitSelection() const { return split_; }
    // Connections 1..4; false (nothing changed) for other counts.
    bool SetConnections(int count);

    // Category text, button and tree.
    const std::string& CategoryText() const { return categoryText_; }
    bool CategoryTreeShown() const { return categoryTreeShown_; }
    void OnCategoryButton() { categoryTreeShown_ = !categoryTreeShown_; }
    const TreeModel& CategoryTree() const { return categoryTree_; }
    // A selection in the tree; byMouse false for keyboard navigation.
    void OnCategorySelected(TreeItem item, bool byMouse);
    // Chooses a category as a tap would: a key path ("SOFTWARE\...") or a
    // text path below the folder ("Music"), optionally starting with the
    // folder text ("Downloading\Music"). False when nothing matches.
    bool SelectCategory(std::string_view path);
    // The key path OK will store as Cat.
    std::string CategoryKeyPath() const;
    int FolderIndex() const { return folderIndex_; }

    // Login check box and its two edits (enabled while the box is checked).
    bool Login() const { return login_; }
    void SetLogin(bool checked) { login_ = checked; }
    const std::string& User() const { return user_; }
    void SetUser(std::string user) { user_ = std::move(user); }
    const std::string& Password() const { return password_; }
    void SetPassword(std::string password) { password_ = std::move(password); }

    // Checksum edit: blank for none, else ALGO=HEX (checked by OK, stored
    // in its normal form).
    const std::string& ChecksumEntry() const { return checksum_; }
    void SetChecksumEntry(std::string text) { checksum_ = std::move(text); }

    // The task's own Cookie, Referer and User-Agent (from a browser, or
    // given on the command line); kept as they are when a task is edited.
    // The window shows the referer only.
    const RequestHeaders& Headers() const { return headers_; }
    void SetHeaders(RequestHeaders headers) { headers_ = std::move(headers); }

    // Start radio buttons: true "Immediately", false "Manual".
    bool Immediately() const { return immediately_; }
    void SetImmediately(bool immediately) { immediately_ = immediately; }

    // Proxy combos: one entry per Proxy_N record; selections are indexes,
    // -1 for none (stored as proxy number 0).
    const std::vector<std::string>& ProxyNames() const { return proxyNames_; }
    int ProxyHttpSelection() const { return proxyHttp_; }
    int ProxyFtpSelection() const { return proxyFtp_; }
    // By proxy number (1-based, as Proxy_N); false when there is no such entry.
    bool SetProxyHttp(int number);
    bool SetProxyFtp(int number);

    // "Save as default": writes folder, start mode, split and proxies to the
    // Default settings and the settings record together, under SpeedLock.
    void SaveAsDefault();

    // OK: validates in order (the first refusal is asked through IQuestions,
    // FocusField() names the field, the dialog stays open and false is
    // returned), then writes the task. True when the dialog may close.
    bool Ok();
    void Cancel() { accepted_ = false; }

    // Results.
    bool Accepted() const { return accepted_; }
    // Whether the caller should start the task at once.
    bool StartImmediately() const { return accepted_ && startImmediately_; }
    // The new task's id (new mode) or the edited one.
    const std::string& TaskId() const { return taskId_; }
    // After OK: the URL as stored (FTP login data rebuilt from the dialog).
    const std::string& FinalUrl() const { return finalUrl_; }
    // Field of the last refusal ("" none).
    const std::string& FocusField() const { return focusField_; }
    // OK passed validation but the progress file could not be written.
    bool WriteFailed() const { return writeFailed_; }
    // The save-to folder that Ok could not create ("" when it exists): the
    // task was added, but its download will fail until the folder exists.
    const std::string& FolderNotCreated() const { return folderNotCreated_; }

  private:
    void InitCommon();
    void LoadProxyNames();
    void FillCategoryTree(const std::string& keyPath);
    bool Refuse(std::string text, QuestionIcon icon, const char* field);
    bool Validate();
    std::string BuildFinalUrl() const;
    bool Apply();

    AppContext& ctx_;
    IQuestions& questions_;
    const ITaskLookup* lookup_ = nullptr;
    Labels labels_;
    bool newTask_ = true;
    std::string taskId_;
    std::string url_;
    std::string saveTo_;
    std::string fileName_;
    int split_ = 0;
    std::string categoryText_;
    bool categoryTreeShown_ = false;
    TreeModel categoryTree_;
    int folderIndex_ = 0;
    std::string categoryPath_;  // the task's Cat when no item is selected
    bool login_ = false;
    std::string user_;
    std::string password_;
    bool immediately_ = false;
    std::string checksum_;
    RequestHeaders headers_;
    std::vector<std::string> proxyNames_;
    int proxyHttp_ = -1;
    int proxyFtp_ = -1;

    bool accepted_ = false;
    bool startImmediately_ = false;
    std::string finalUrl_;
    std::string focusField_;
    bool writeFailed_ = false;
    std::string folderNotCreated_;
};

}  // namespace vardane
